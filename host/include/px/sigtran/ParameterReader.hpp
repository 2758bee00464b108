// The parameters of a SIGTRAN adaptation layer message (M3UA, RFC 4666 3.2;
// SUA, RFC 3868 3.10): tag (2), length (2, the header included), value,
// padded to a multiple of four octets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "px/BigEndian.hpp"

namespace px::sigtran {

struct Parameter {
  std::uint16_t tag = 0;
  std::span<const std::uint8_t> value;  // without the header and the padding
};

// Reads the parameters of `bytes` one after the other.
//
//   px::sigtran::ParameterReader r(message.subspan(8, length - 8));
//   for (px::sigtran::Parameter p; r.next(p);) { ... }
//   if (r.damaged()) { ... the parameters read so far are sound ... }
class ParameterReader {
 public:
  explicit ParameterReader(std::span<const std::uint8_t> bytes) : _bytes(bytes) {}

  // The next parameter, or false at the end or at damage (see damaged()): a
  // length below its own header or past the end, or an end of one to three
  // octets that cannot hold a header. The padding of the last parameter may
  // be missing.
  bool next(Parameter& out) {
    if (_damaged || _at >= _bytes.size()) return false;
    const std::size_t left = _bytes.size() - _at;
    if (left < 4) return _damaged = true, false;
    const std::size_t length = be16(_bytes, _at + 2);
    if (length < 4 || length > left) return _damaged = true, false;
    out.tag = be16(_bytes, _at);
    out.value = _bytes.subspan(_at + 4, length - 4);
    // The padded step may pass the end when the last length is not a multiple
    // of four.
    _at += (length + 3) & ~std::size_t{3};
    return true;
  }
  bool damaged() const { return _damaged; }

 private:
  std::span<const std::uint8_t> _bytes;
  std::size_t _at = 0;
  bool _damaged = false;
};

}  // namespace px::sigtran
