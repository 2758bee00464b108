// Big-endian reads over a byte view. Callers test the size first; the readers
// only assert what the caller already established.
#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace px {

// One load and a byte swap: every layer of a frame reads its lengths and
// ports with these, and octet by octet they cost several times as much.
inline std::uint16_t be16(std::span<const std::uint8_t> b, std::size_t at) {
  assert(at <= b.size() && b.size() - at >= 2);
  std::uint16_t v;
  std::memcpy(&v, b.data() + at, sizeof v);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap16(v);
  return v;
}
inline std::uint32_t be32(std::span<const std::uint8_t> b, std::size_t at) {
  assert(at <= b.size() && b.size() - at >= 4);
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, sizeof v);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
  return v;
}

}  // namespace px
