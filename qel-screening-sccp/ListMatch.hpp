// Matching one value against one rule list: a single front-to-back pass that
// stops at the first hit and allocates nothing.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "px/Value.hpp"

namespace qel {

// The 32-bit integer a number-list entry carries: a number truncated toward
// zero and clamped to the 32-bit range (NaN carries none); a text gives the
// decimal integer it begins with after leading blanks and one sign, clamped,
// or 0 when it begins with none; any other entry carries none.
std::optional<std::int32_t> entryInteger(const PXValue& entry);

// True when `value` begins with a non-empty text entry of `list`. Entries that
// are not texts never hit.
inline bool prefixListHits(const PXList* list, std::string_view value) {
  if (!list || value.empty()) return false;
  const char first = value.front();
  for (const PXValue& entry : *list) {
    const std::string* prefix = entry.text();
    if (!prefix) continue;
    const std::size_t n = prefix->size();
    // Most entries differ in their first digit; test it before calling memcmp.
    if (n == 0 || n > value.size() || (*prefix)[0] != first) continue;
    if (std::memcmp(prefix->data(), value.data(), n) == 0) return true;
  }
  return false;
}

// True when an entry's integer, widened with its sign, equals `value`.
inline bool numberListHits(const PXList* list, std::int64_t value) {
  if (!list) return false;
  // Strictly inside the 32-bit range, a clamped integer entry equals `value`
  // exactly when the entry itself does, so the common case skips the clamp.
  const bool inside = value > INT32_MIN && value < INT32_MAX;
  for (const PXValue& entry : *list) {
    if (const std::int64_t* n = entry.integer()) {
      if (inside ? *n == value : std::int64_t{entryInteger(entry).value_or(0)} == value) {
        return true;
      }
    } else if (auto n32 = entryInteger(entry); n32 && std::int64_t{*n32} == value) {
      return true;
    }
  }
  return false;
}

}  // namespace qel
