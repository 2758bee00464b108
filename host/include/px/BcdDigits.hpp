// BCD digits as SCCP global titles (ITU-T Q.713 3.4.2.3) and MAP TBCD strings
// (3GPP TS 29.002 17.7.1) carry them: two per octet, the first in the low
// nibble.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// writeBcdDigitsAtEnd and writeBcdDigitsAhead may write this many characters
// however few the digits.
inline constexpr std::size_t kBcdDigitsAtEndSlack = 16;

namespace detail {
// The 16 digits of the 8 octets in `octets` (first octet in the low byte),
// spread with a few vector instructions instead of a table look-up per octet.
// False without SSE2 on a little-endian machine; nothing is written then.
inline bool spreadBcdDigits(std::uint64_t octets, char* out) {
#if defined(__SSE2__)
  if constexpr (std::endian::native == std::endian::little) {
    const __m128i v = _mm_cvtsi64_si128(static_cast<long long>(octets));
    const __m128i lowNibbles = _mm_set1_epi8(0x0F);
    const __m128i low = _mm_and_si128(v, lowNibbles);
    const __m128i high = _mm_and_si128(_mm_srli_epi16(v, 4), lowNibbles);
    // Low nibble first: digit 2i is octet i's low nibble, 2i+1 its high one.
    const __m128i digits = _mm_unpacklo_epi8(low, high);
    // '0'-'9' for 0-9, then 'a'-'f': 10 + ('a' - '0' - 10) lands on 'a'.
    const __m128i letters =
        _mm_and_si128(_mm_cmpgt_epi8(digits, _mm_set1_epi8(9)), _mm_set1_epi8('a' - '0' - 10));
    const __m128i text = _mm_add_epi8(_mm_add_epi8(digits, _mm_set1_epi8('0')), letters);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), text);
    return true;
  }
#endif
  (void)octets;
  (void)out;
  return false;
}
}  // namespace detail

// The digits of the octets `bytes[from..]`, as writeBcdDigits writes them.
// The common global title, of at most 8 octets ending its parameter of 8
// octets or more, is loaded at once from the parameter's last 8 octets and
// spread into 16 characters; anything else goes octet by octet. The buffer at
// `out` needs room for max(2 * (bytes.size() - from), kBcdDigitsAtEndSlack)
// characters; the first 2 * (bytes.size() - from) are the digits.
inline void writeBcdDigitsAtEnd(std::span<const std::uint8_t> bytes, std::size_t from, char* out) {
  const std::size_t n = bytes.size() - from;
  if (bytes.size() >= 8 && n >= 1 && n <= 8) {
    std::uint64_t last8;
    std::memcpy(&last8, bytes.data() + bytes.size() - 8, 8);
    // The n octets are the top ones; shift them down to the first.
    if (detail::spreadBcdDigits(last8 >> (8 * (8 - n)), out)) return;
  }
  writeBcdDigits(bytes.subspan(from), out);
}

// The digits of the `n` octets `bytes[from..from + n)`, as writeBcdDigits
// writes them. At most 8 octets with 8 octets of `bytes` from `from` on (a
// MAP IMSI with the rest of its argument after it) are loaded at once and
// spread into 16 characters; anything else goes octet by octet. The buffer at
// `out` needs room for max(2 * n, kBcdDigitsAtEndSlack) characters; the first
// 2 * n are the digits.
inline void writeBcdDigitsAhead(std::span<const std::uint8_t> bytes, std::size_t from,
                                std::size_t n, char* out) {
  if (n <= 8 && bytes.size() - from >= 8) {
    std::uint64_t next8;
    std::memcpy(&next8, bytes.data() + from, 8);
    if (detail::spreadBcdDigits(next8, out)) return;
  }
  writeBcdDigits(bytes.subspan(from, n), out);
}

}  // namespace px
