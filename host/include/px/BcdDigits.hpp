// BCD digits as SCCP global titles (ITU-T Q.713 3.4.2.3) and MAP TBCD strings
// (3GPP TS 29.002 17.7.1) carry them: two per octet, the first in the low
// nibble.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace px {

// The two digits of each octet, low nibble first, values 10-15 as 'a'-'f'.
inline constexpr auto kBcdDigitPairs = [] {
  constexpr char kDigit[] = "0123456789abcdef";
  std::array<std::array<char, 2>, 256> t{};
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = {kDigit[i & 0x0F], kDigit[i >> 4]};
  return t;
}();

// Writes both digits of every octet at `out` (2 * octets.size() characters)
// and returns the end. A filler nibble is written like any other: whether the
// last high nibble counts is the caller's to say.
inline char* writeBcdDigits(std::span<const std::uint8_t> octets, char* out) {
  for (const std::uint8_t o : octets) {
    std::memcpy(out, kBcdDigitPairs[o].data(), 2);
    out += 2;
  }
  return out;
}

}  // namespace px
