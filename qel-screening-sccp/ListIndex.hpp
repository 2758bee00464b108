// A rule list as screening asks it: built once when a rule set is published,
// answered per message without walking the list's values.
//
// A list stays the filter's value (its getter returns it as it was set); the
// index beside it is derived from it and gives exactly the answers of
// prefixListHits and numberListHits (ListMatch.hpp), which remain the
// definition and what the filter's public matchers run.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "ListMatch.hpp"
#include "px/Value.hpp"

namespace qel {

// A prefix list's text entries. Entries of at most eight bytes are compared
// as one masked word each, so a message's digits are loaded once and each
// entry costs a handful of instructions; longer ones are compared bytewise.
class PrefixIndex {
 public:
  PrefixIndex() = default;
  explicit PrefixIndex(PXListRef list) : _source(std::move(list)) {
    if (!_source) return;
    for (const PXValue& entry : *_source) {
      const std::string* text = entry.text();
      if (!text || text->empty()) continue;  // never hits
      if (text->size() <= kWord) {
        Short s;
        std::memcpy(&s.bytes, text->data(), text->size());
        std::array<unsigned char, kWord> ones{};
        std::fill_n(ones.begin(), text->size(), 0xFF);
        std::memcpy(&s.mask, ones.data(), kWord);
        s.length = static_cast<std::uint8_t>(text->size());
        _short.push_back(s);
      } else {
        _long.emplace_back(*text);  // views the list, which _source keeps
      }
    }
  }

  const PXList* source() const { return _source.get(); }

  // prefixListHits(source(), value).
  [[gnu::always_inline]] bool hits(std::string_view value) const {
    if (value.empty()) return false;
    if (value.size() >= kWord) {
      std::uint64_t word;
      std::memcpy(&word, value.data(), kWord);
      for (const Short& s : _short)
        if (((word ^ s.bytes) & s.mask) == 0) return true;
    } else if (!_short.empty()) {
      std::uint64_t word = 0;
      std::memcpy(&word, value.data(), value.size());
      for (const Short& s : _short)
        if (s.length <= value.size() && ((word ^ s.bytes) & s.mask) == 0) return true;
    }
    for (std::string_view prefix : _long)
      if (prefix.size() <= value.size() && sameBytes(prefix.data(), value.data(), prefix.size()))
        return true;
    return false;
  }

 private:
  static constexpr std::size_t kWord = sizeof(std::uint64_t);
  struct Short {
    std::uint64_t bytes = 0;  // the entry, in memory order, zero-padded
    std::uint64_t mask = 0;   // its bytes
    std::uint8_t length = 0;
  };
  PXListRef _source;
  std::vector<Short> _short;
  std::vector<std::string_view> _long;
};

// A number list: for 0-255 (every translation type, the usual operation
// codes) one bit says whether the list holds the value; other values scan.
class NumberIndex {
 public:
  NumberIndex() = default;
  explicit NumberIndex(PXListRef list) : _source(std::move(list)) {
    if (!_source) return;
    for (std::uint32_t v = 0; v < 256; ++v)
      if (numberListHits(_source.get(), v)) _small[v / 64] |= std::uint64_t{1} << (v % 64);
  }

  const PXList* source() const { return _source.get(); }

  // numberListHits(source(), value).
  [[gnu::always_inline]] bool hits(std::int64_t value) const {
    if (value >= 0 && value < 256) {
      const auto v = static_cast<std::uint64_t>(value);
      return (_small[v / 64] >> (v % 64)) & 1;
    }
    return numberListHits(_source.get(), value);
  }

 private:
  PXListRef _source;
  std::array<std::uint64_t, 4> _small{};
};

}  // namespace qel
