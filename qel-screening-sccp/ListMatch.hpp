// Matching one value against one rule list: a single front-to-back pass that
// stops at the first hit and allocates nothing.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "NumberEntry.hpp"
#include "px/ScreeningResult.hpp"
#include "px/Value.hpp"

namespace qel {

// Whether `a` and `b` agree in their first n bytes, 4 or 8 at a time: every
// load lies within the n bytes.
inline bool sameBytes(const char* a, const char* b, std::size_t n) {
  const auto word8 = [](const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
  };
  const auto word4 = [](const char* p) {
    std::uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
  };
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 < n; i += 8) {
      if (word8(a + i) != word8(b + i)) return false;
    }
    return word8(a + n - 8) == word8(b + n - 8);  // overlaps the previous word
  }
  if (n >= 4) return word4(a) == word4(b) && word4(a + n - 4) == word4(b + n - 4);
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// True when `hits` holds for some entry, scanned front to back. Four entries
// per turn: a rejected entry costs a handful of instructions, and the loop's
// own step and test would otherwise add a third to that.
template <class Hit>
[[gnu::always_inline]] inline bool anyEntry(const PXList& list, Hit hits) {
  const PXValue* e = list.data();
  const PXValue* const end = e + list.size();
  for (; end - e >= 4; e += 4) {
    if (hits(e[0]) || hits(e[1]) || hits(e[2]) || hits(e[3])) return true;
  }
  for (; e != end; ++e) {
    if (hits(*e)) return true;
  }
  return false;
}

// True when `value` begins with a non-empty text entry of `list`. Entries that
// are not texts never hit. Forced inline, like numberListHits: a screening
// runs up to ten scans, and the calls cost more than a short list's scan.
[[gnu::always_inline]] inline bool prefixListHits(const PXList* list, std::string_view value) {
  if (!list || value.empty()) return false;
  const char first = value.front();
  const auto hits = [first, value](const PXValue& entry) {
    const std::string* prefix = entry.text();
    if (!prefix) return false;
    // Most entries differ in their first digit, so that is tested before
    // anything else. data()[0] is readable even for an empty text (it is the
    // terminating null), and an empty entry is refused just below.
    const char* const p = prefix->data();
    if (p[0] != first) return false;
    const std::size_t n = prefix->size();
    return n != 0 && n <= value.size() && sameBytes(p, value.data(), n);
  };
  return anyEntry(*list, hits);
}

// True when an entry's integer, widened with its sign, equals `value`.
[[gnu::always_inline]] inline bool numberListHits(const PXList* list, std::int64_t value) {
  if (!list) return false;
  if (value > INT32_MIN && value < INT32_MAX) {
    // Strictly inside the 32-bit range, a clamped integer entry equals `value`
    // exactly when the entry itself does: integer entries need no clamp.
    const auto hits = [value](const PXValue& entry) {
      if (const std::int64_t* n = entry.integer()) return *n == value;
      const auto n32 = entryInteger(entry);
      return n32 && std::int64_t{*n32} == value;
    };
    return anyEntry(*list, hits);
  }
  for (const PXValue& entry : *list) {
    if (auto n32 = entryInteger(entry); n32 && std::int64_t{*n32} == value) return true;
  }
  return false;
}

// The filter's matchers as the decision calls them: `r` on the first entry
// that hits, else undefined. Inline, so that they melt into the scans; the
// filter's virtual screenNumber/screenTT/screenFSM forward here for hosts.
[[gnu::always_inline]] inline PXSccpScreening_result screenNumber(
    std::optional<std::string_view> number, const PXListRef& arr, PXSccpScreening_result r) {
  return number && prefixListHits(arr.get(), *number) ? r : PXSccpScreening_undefined;
}
[[gnu::always_inline]] inline PXSccpScreening_result screenTT(std::int32_t number,
                                                              const PXListRef& arr,
                                                              PXSccpScreening_result r) {
  return numberListHits(arr.get(), number) ? r : PXSccpScreening_undefined;
}
[[gnu::always_inline]] inline PXSccpScreening_result screenFSM(std::optional<std::string_view> imsi,
                                                               const PXListRef& mccmnc,
                                                               PXSccpScreening_result r) {
  return screenNumber(imsi, mccmnc, r);
}

}  // namespace qel
