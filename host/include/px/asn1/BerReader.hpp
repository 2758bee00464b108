// A BER reader over a byte view (ITU-T X.690 8.1).
//
// Every bounds check of the host's BER decoding lives here: identifier octets,
// the three length forms, the end-of-contents octets of the indefinite form and
// the nesting of indefinite elements. Elements come back as PXASN1Object views
// of the input; nothing is copied or allocated, nothing throws, and no length
// octet is trusted before it is checked against what is left of the input.
//
//   px::ber::BerReader r(component.contents());
//   while (auto element = r.next()) { ... }
//   if (r.damaged()) { ... the elements read so far are sound ... }
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "px/asn1/Asn1Object.hpp"

namespace px::ber {

// X.690 8.1.2.4: a tag number beyond 32 bits is refused rather than truncated,
// so two different tags can never read as the same one.
inline constexpr std::uint32_t kMaxTagNumber = 0xFFFF'FFFF;
// X.690 8.1.3.5: up to 126 subsequent length octets are allowed; real encoders
// use at most 4, and non-minimal forms pad with leading zeros. Eight covers
// every padding seen in practice while any longer form is refused outright.
inline constexpr std::size_t kMaxLengthOctets = 8;
// X.690 8.3: INTEGER values the host decodes fit in a signed 64-bit integer.
inline constexpr std::size_t kMaxIntegerOctets = 8;

// Why an element could not be read.
enum class BerError : std::uint8_t {
  none = 0,
  truncated,                // identifier or length octets run past the end of the input
  tagTooLarge,              // tag number beyond kMaxTagNumber
  lengthTooLong,            // more than kMaxLengthOctets length octets, or the reserved 0xFF
  lengthBeyondInput,        // definite length larger than what is left
  indefinitePrimitive,      // X.690 8.1.3.2 a: the indefinite form on a primitive element
  missingEndOfContents,     // indefinite element without its 00 00 before the end of the input
  unexpectedEndOfContents,  // 00 00 where an element was expected (outside an indefinite element)
};

// Header of one element: the tag and where its contents are.
struct BerHeader {
  PXASN1TagClass tagClass = PXASN1TagClass::universal;
  bool constructed = false;
  bool indefinite = false;
  std::uint32_t tagNumber = 0;
  std::size_t headerLength = 0;   // identifier and length octets
  std::size_t contentLength = 0;  // definite form only
};

namespace detail {
std::optional<BerHeader> readHeaderAnyForm(std::span<const std::uint8_t> bytes, BerError* error);
// The full reader's answer, returned whole: an out-of-line call that received
// pointers into its caller's state would keep that state out of registers.
struct ElementRead {
  PXASN1Object element;
  std::size_t consumed = 0;
  BerError error = BerError::none;  // anything else: no element
};
ElementRead readElementAnyForm(std::span<const std::uint8_t> bytes);

// Most elements of a TCAP message have a one-octet tag and a short length:
// those are read inline, every other form (and every error) by readElementAnyForm.
inline bool readShortElement(std::span<const std::uint8_t> bytes, PXASN1Object& out,
                             std::size_t& consumed) {
  if (bytes.size() < 2) return false;
  const std::uint8_t id = bytes[0];
  const std::uint8_t length = bytes[1];
  if (id == 0 || (id & 0x1F) == 0x1F || length >= 0x80 || length > bytes.size() - 2) return false;
  out = PXASN1Object(static_cast<PXASN1TagClass>(id >> 6), (id & 0x20) != 0, id & 0x1Fu,
                     bytes.subspan(2, length));
  consumed = 2u + length;
  return true;
}
}  // namespace detail

// Reads identifier and length octets at the start of `bytes`. The definite
// length is not checked against the input here; readElement does that.
inline std::optional<BerHeader> readHeader(std::span<const std::uint8_t> bytes,
                                           BerError* error = nullptr) {
  // A one-octet tag and a short length, read here; every other form by the full reader.
  if (bytes.size() >= 2) {
    const std::uint8_t id = bytes[0];
    const std::uint8_t length = bytes[1];
    if ((id & 0x1F) != 0x1F && length < 0x80) {
      BerHeader h;
      h.tagClass = static_cast<PXASN1TagClass>(id >> 6);
      h.constructed = (id & 0x20) != 0;
      h.tagNumber = id & 0x1Fu;
      h.headerLength = 2;
      h.contentLength = length;
      return h;
    }
  }
  return detail::readHeaderAnyForm(bytes, error);
}

// One complete element at the start of `bytes`. `consumed` receives the octets it
// spans, including the end-of-contents octets of the indefinite form.
inline std::optional<PXASN1Object> readElement(std::span<const std::uint8_t> bytes,
                                               std::size_t& consumed, BerError* error = nullptr) {
  if (PXASN1Object element; detail::readShortElement(bytes, element, consumed)) return element;
  const detail::ElementRead read = detail::readElementAnyForm(bytes);
  if (read.error != BerError::none) {
    if (error) *error = read.error;
    return std::nullopt;
  }
  consumed = read.consumed;
  return read.element;
}

// Reads the elements of a sequence of octets one after the other, such as the
// contents of a constructed element.
class BerReader {
 public:
  constexpr BerReader() = default;
  constexpr explicit BerReader(std::span<const std::uint8_t> bytes) : _bytes(bytes) {}

  // The children of a constructed element; a primitive element has none.
  static BerReader children(const PXASN1Object& parent) {
    return parent.isConstructed() ? BerReader(parent.contents()) : BerReader();
  }

  // The next element, or nullopt at the end of the input or at damage (see damaged()).
  // After damage the reader stays at the damaged octet and yields nothing more.
  std::optional<PXASN1Object> next() {
    if (_error != BerError::none || atEnd()) return std::nullopt;
    std::size_t consumed = 0;
    BerError error = BerError::none;
    auto element = readElement(_bytes.subspan(_offset), consumed, &error);
    if (element)
      _offset += consumed;
    else
      _error = error;
    return element;
  }
  // The same, into `out` (unchanged when there is none): no optional to copy
  // out of, which is measurably cheaper on the per-message paths.
  bool next(PXASN1Object& out) {
    if (_error != BerError::none || atEnd()) return false;
    const auto bytes = _bytes.subspan(_offset);
    if (std::size_t consumed = 0; detail::readShortElement(bytes, out, consumed)) {
      _offset += consumed;
      return true;
    }
    const detail::ElementRead read = detail::readElementAnyForm(bytes);
    if (read.error != BerError::none) {
      _error = read.error;
      return false;
    }
    out = read.element;
    _offset += read.consumed;
    return true;
  }

  bool atEnd() const { return _offset >= _bytes.size(); }
  bool damaged() const { return _error != BerError::none; }
  BerError error() const { return _error; }

 private:
  std::span<const std::uint8_t> _bytes;
  std::size_t _offset = 0;
  BerError _error = BerError::none;
};

// X.690 8.3: a two's complement INTEGER of 1 to kMaxIntegerOctets contents octets.
// Redundant leading octets are accepted as long as the contents fit.
inline std::optional<std::int64_t> decodeInteger(std::span<const std::uint8_t> contents) {
  if (contents.empty() || contents.size() > kMaxIntegerOctets) return std::nullopt;
  // Most INTEGERs of a TCAP message (IDs, local codes) are one octet.
  if (contents.size() == 1) return static_cast<std::int8_t>(contents[0]);
  // Sign-extend from the first octet, then shift the rest in.
  std::uint64_t v = (contents[0] & 0x80) ? ~std::uint64_t{0} : 0;
  for (const std::uint8_t b : contents) v = (v << 8) | b;
  return static_cast<std::int64_t>(v);
}

// X.690 8.19: the value of the last arc of an OBJECT IDENTIFIER. The contents
// must be well formed (every subidentifier ended, none beyond 63 bits); with a
// single subidentifier the last arc is the second one it encodes (X.690 8.19.4).
std::optional<std::int64_t> objectIdentifierLastArc(std::span<const std::uint8_t> contents);

std::string_view berErrorName(BerError e);

}  // namespace px::ber
