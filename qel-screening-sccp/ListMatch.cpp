#include "ListMatch.hpp"

#include <cmath>
#include <limits>

namespace qel {

namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();

std::int32_t clamp32(std::int64_t v) {
  return static_cast<std::int32_t>(v < kMin ? kMin : (v > kMax ? kMax : v));
}

bool isBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Like strtol: blanks, one sign, then digits; saturates instead of overflowing.
std::int32_t leadingInteger(std::string_view text) {
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

}  // namespace

std::optional<std::int32_t> entryInteger(const PXValue& entry) {
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
