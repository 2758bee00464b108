// The integer a number-list entry carries, as screening compares it.
//
// Header-only and free of anything but the host's value types, so that a host
// tool can show what an entry reads as by the very code the filter runs,
// without linking the filter.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "px/Value.hpp"

namespace qel {

// The blanks of the C locale's isspace.
constexpr bool isBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

namespace number_entry_detail {

inline constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
inline constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();

constexpr std::int32_t clamp32(std::int64_t v) {
  return static_cast<std::int32_t>(v < kMin ? kMin : (v > kMax ? kMax : v));
}

// Like strtol: blanks, one sign, then digits; saturates instead of overflowing.
constexpr std::int32_t leadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kMax + 1) magnitude = kMax + 1;  // saturated; more digits change nothing
  }
  return clamp32(negative ? -magnitude : magnitude);
}

}  // namespace number_entry_detail

// The 32-bit integer a number-list entry carries: a number truncated toward
// zero and clamped to the 32-bit range (NaN carries none); a text gives the
// decimal integer it begins with after leading blanks and one sign, clamped,
// or 0 when it begins with none; any other entry carries none.
//
// Kept out of line: the list scans call it only for entries that are not
// integers, and a copy in every scan would only lengthen the common path.
[[gnu::noinline]] inline std::optional<std::int32_t> entryInteger(const PXValue& entry) {
  using namespace number_entry_detail;
  if (const std::int64_t* n = entry.integer()) return clamp32(*n);
  if (const double* d = entry.real()) {
    if (std::isnan(*d)) return std::nullopt;
    if (*d <= static_cast<double>(kMin)) return static_cast<std::int32_t>(kMin);
    if (*d >= static_cast<double>(kMax)) return static_cast<std::int32_t>(kMax);
    return static_cast<std::int32_t>(std::trunc(*d));
  }
  if (const std::string* t = entry.text()) return leadingInteger(*t);
  return std::nullopt;
}

}  // namespace qel
