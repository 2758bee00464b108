// Big-endian reads over a byte view. Callers test the size first; the readers
// only assert what the caller already established.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace px {

inline std::uint16_t be16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}
inline std::uint32_t be32(std::span<const std::uint8_t> b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
         (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

}  // namespace px
