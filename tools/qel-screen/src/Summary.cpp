#include "Summary.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <vector>

#include "OperationNames.hpp"
#include "Records.hpp"

namespace qs {

using px::kSccpGiveUpReasons;
using px::SccpGiveUp;
using px::sccpGiveUpName;
using px::SccpReassembler;

namespace {

std::string_view slotName(std::size_t slot) {
  if (slot < kVerdicts.size()) return px::verdictName(kVerdicts[slot]);
  return slot == kSlotOther ? "other" : "not_screened";
}

std::uint64_t total(const Tally::Counts& c) {
  std::uint64_t t = 0;
  for (auto n : c) t += n;
  return t;
}

std::uint64_t denied(const Tally::Counts& c) {
  return c[slotOf(PXSccpScreening_explicitlyDenied)] + c[slotOf(PXSccpScreening_implicitlyDenied)];
}

// What an entry counts, whether it holds the counts or points at them.
template <class T>
const T& counted(const T& c) {
  return c;
}
template <class T>
const T& counted(const T* c) {
  return *c;
}

// Entries of a counting map (or a list of key-count pairs), most counted
// first (ties by key, so that the order does not depend on the hash table).
// With `first`, only that many come first in order (the rest follow in no
// order): a summary's top ten of many thousand prefixes.
template <class Map, class Weight>
auto ranked(const Map& map, Weight weight, std::size_t first = SIZE_MAX) {
  std::vector<const typename Map::value_type*> v;
  v.reserve(map.size());
  for (const auto& e : map) v.push_back(&e);
  auto before = [&](auto* a, auto* b) {
    auto wa = weight(counted(a->second)), wb = weight(counted(b->second));
    return wa != wb ? wa > wb : a->first < b->first;
  };
  if (first < v.size())
    std::partial_sort(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(first), v.end(), before);
  else
    std::sort(v.begin(), v.end(), before);
  return v;
}

unsigned hexNibble(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 0xF;
}

}  // namespace

namespace {

// The first `n` (at most 7) characters of `digits` as the low octets of an
// integer, the first character lowest. Digits of eight or more characters
// are read as one word.
[[gnu::always_inline]] inline std::uint64_t packCharacters(std::string_view digits, std::size_t n) {
  if (digits.size() >= 8) {
    std::uint64_t word;
    std::memcpy(&word, digits.data(), 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return n == 0 ? 0 : word & (~std::uint64_t{0} >> (64 - 8 * n));
  }
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < n; ++i)
    key |= std::uint64_t{static_cast<unsigned char>(digits[i])} << (8 * i);
  return key;
}

// The key of the first `digits` characters of `full` (see prefixKey).
[[gnu::always_inline]] inline std::uint64_t keyOfPrefix(std::string_view full, std::size_t digits) {
  // The top nibble says the length and the packing: 8 + length for up to 7
  // digits kept as their characters, length - 8 for 8 to 15 digits a nibble
  // each. No prefix of digits packs to kNoPrefix (all ones).
  const std::size_t n = std::min({full.size(), digits, std::size_t{Tally::kMaxPrefixDigits}});
  if (n <= 7) return packCharacters(full, n) | std::uint64_t{8 + n} << 60;
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < n; ++i) key |= std::uint64_t{hexNibble(full[i])} << (4 * i);
  return key | std::uint64_t{n - 8} << 60;
}

}  // namespace

std::uint64_t prefixKey(std::string_view prefix) {
  return keyOfPrefix(prefix, prefix.size());
}

std::string prefixText(std::uint64_t key) {
  const auto code = static_cast<std::size_t>(key >> 60);
  if (code >= 8) {
    std::string text(code - 8, '0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(key >> (8 * i));
    return text;
  }
  std::string text(code + 8, '0');
  for (std::size_t d = 0; d < text.size(); ++d)
    text[d] = "0123456789abcdef"[(key >> (4 * d)) & 0xF];
  return text;
}

namespace {

std::string operationText(std::int64_t key) {
  auto code = static_cast<std::int32_t>(key & 0xFFFFFFFF);
  if (key >> 32) return fmt::format("g{}", code);
  if (auto name = mapOperationName(code)) return fmt::format("{} {}", code, *name);
  return fmt::format("{}", code);
}

}  // namespace

void Tally::add(const PXSCCP_Packet* packet, std::optional<std::int32_t> verdict,
                const PXSccpScreeningTrace* trace, std::optional<std::string_view> error) {
  std::size_t slot = verdict ? slotOf(*verdict) : kNotScreened;
  ++_verdicts[slot];
  ++_inbound;
  if (trace && verdict) {
    _decidersKnown = true;
    ++_deciders[static_cast<std::size_t>(trace->decidedBy) % _deciders.size()];
  }
  if (error) {
    if (auto it = _undecodable.find(*error); it != _undecodable.end())
      ++it->second;
    else
      _undecodable.emplace(std::string(*error), 1);
  }
  if (!packet) return;
  const PXTCAP_itu_asn1_message* m = packet->tcapMessage();
  if (const auto* cp = m ? m->componentPortion() : nullptr) {
    // A message with the same code twice counts once for it.
    std::int64_t seen[8];
    std::size_t nSeen = 0;
    for (const auto& c : cp->arrayOfComponents()) {
      if (!c.hasLocalOperationCode() && !c.hasGlobalOperationCode()) continue;
      std::int64_t key = static_cast<std::uint32_t>(c.operationCode()) |
                         (c.hasGlobalOperationCode() ? std::int64_t{1} << 32 : 0);
      if (std::find(seen, seen + nSeen, key) != seen + nSeen) continue;
      if (nSeen < std::size(seen)) seen[nSeen++] = key;
      if (key >= 0 && key < 256)
        ++_smallOperations[static_cast<std::size_t>(key)][slot];
      else
        ++_otherOperations[key][slot];
    }
  }
  const SccpAddress* calling = packet->incomingCallingPartyAddress();
  if (const auto digits = calling ? calling->address() : std::nullopt) {
    const std::uint64_t key = keyOfPrefix(*digits, _prefixDigits);
    if (_leavePrefixes) {
      _left = {key, static_cast<std::uint8_t>(slot)};
      return;
    }
    addPrefix({key, static_cast<std::uint8_t>(slot)});
  }
}

void Tally::merge(const Tally& other) {
  auto add = [](Counts& to, const Counts& from) {
    for (std::size_t i = 0; i < to.size(); ++i) to[i] += from[i];
  };
  add(_verdicts, other._verdicts);
  _inbound += other._inbound;
  _outbound += other._outbound;
  for (std::size_t i = 0; i < _deciders.size(); ++i) _deciders[i] += other._deciders[i];
  _decidersKnown = _decidersKnown || other._decidersKnown;
  for (std::size_t i = 0; i < _smallOperations.size(); ++i)
    add(_smallOperations[i], other._smallOperations[i]);
  for (const auto& [key, counts] : other._otherOperations) add(_otherOperations[key], counts);
  for (std::size_t i = 0; i < other._prefixes.keys.size(); ++i) {
    if (other._prefixes.keys[i] == kNoPrefix) continue;
    const Counts& counts = other._prefixes.counts[other._prefixes.at[i]];
    if (Counts* c = _prefixes.get(other._prefixes.keys[i]))
      add(*c, counts);
    else
      add(_otherPrefixes, counts);
  }
  add(_otherPrefixes, other._otherPrefixes);
  for (const auto& [error, n] : other._undecodable) {
    if (auto it = _undecodable.find(error); it != _undecodable.end())
      it->second += n;
    else
      _undecodable.emplace(error, n);
  }
}

Tally::Counts* Tally::PrefixTable::find(std::uint64_t key) {
  if (keys.empty()) {
    keys.assign(1024, kNoPrefix);
    at.assign(1024, 0);
  }
  for (;;) {
    std::size_t mask = keys.size() - 1;
    std::size_t i = placeOf(key);
    while (keys[i] != kNoPrefix && keys[i] != key) i = (i + 1) & mask;
    if (keys[i] == key) return &counts[at[i]];
    if (counts.size() >= kMaxPrefixes) return nullptr;
    if ((counts.size() + 1) * 2 <= keys.size()) {
      keys[i] = key;
      at[i] = static_cast<std::uint32_t>(counts.size());
      return &counts.emplace_back();
    }
    // Half full: twice the room, every key placed again.
    std::vector<std::uint64_t> oldKeys(keys.size() * 2, kNoPrefix);
    std::vector<std::uint32_t> oldAt(keys.size() * 2, 0);
    oldKeys.swap(keys);
    oldAt.swap(at);
    for (std::size_t j = 0; j < oldKeys.size(); ++j) {
      if (oldKeys[j] == kNoPrefix) continue;
      std::size_t k = placeOf(oldKeys[j]);
      while (keys[k] != kNoPrefix) k = (k + 1) & (keys.size() - 1);
      keys[k] = oldKeys[j];
      at[k] = oldAt[j];
    }
  }
}

std::map<std::int64_t, Tally::Counts> Tally::operations() const {
  auto all = _otherOperations;
  for (std::size_t i = 0; i < _smallOperations.size(); ++i)
    if (total(_smallOperations[i])) all[static_cast<std::int64_t>(i)] = _smallOperations[i];
  return all;
}

std::vector<std::pair<std::string, const Tally::Counts*>> Tally::prefixes() const {
  std::vector<std::pair<std::string, const Counts*>> all;
  all.reserve(_prefixes.counts.size());
  for (std::size_t i = 0; i < _prefixes.keys.size(); ++i) {
    const std::uint64_t key = _prefixes.keys[i];
    if (key == kNoPrefix) continue;
    std::string text = prefixText(key);
    all.emplace_back(std::move(text), &_prefixes.counts[_prefixes.at[i]]);
  }
  return all;
}

std::string Tally::topText(std::string_view adjective, bool deniedOnly) const {
  constexpr std::size_t kTop = 10;
  std::string s;
  auto it = std::back_inserter(s);
  auto weight = [&](const Counts& c) { return deniedOnly ? denied(c) : total(c); };
  auto line = [&](const std::string& title, const auto& map, auto keyText) {
    auto v = ranked(map, weight, kTop);
    if (v.empty() || weight(counted(v.front()->second)) == 0) return;
    fmt::format_to(it, "  {}:", title);
    for (std::size_t i = 0; i < v.size() && i < kTop && weight(counted(v[i]->second)); ++i)
      fmt::format_to(it, "{} {} ({})", i ? "," : "", keyText(v[i]->first),
                     weight(counted(v[i]->second)));
    s += '\n';
  };
  line(fmt::format("top {} operations", adjective), operations(), operationText);
  line(fmt::format("top {} calling prefixes ({} digits)", adjective, _prefixDigits), prefixes(),
       [](const std::string& k) { return k; });
  return s;
}

void appendVerdictCounts(std::string& out, const Tally::Counts& counts) {
  auto it = std::back_inserter(out);
  out += '{';
  bool first = true;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    if (!counts[i]) continue;
    fmt::format_to(it, "{}\"{}\":{}", first ? "" : ",", slotName(i), counts[i]);
    first = false;
  }
  out += '}';
}

void Tally::appendJson(std::string& out) const {
  auto it = std::back_inserter(out);
  out += "\"verdicts\":";
  appendVerdictCounts(out, _verdicts);
  fmt::format_to(it, ",\"directions\":{{\"inbound\":{},\"outbound\":{}}}", _inbound, _outbound);
  out += ",\"deciders\":";
  if (_decidersKnown) {
    out += '{';
    bool first = true;
    for (auto d : {PXScreeningDecider::calling, PXScreeningDecider::called, PXScreeningDecider::tt,
                   PXScreeningDecider::allowedOperation, PXScreeningDecider::deniedOperation,
                   PXScreeningDecider::fsm, PXScreeningDecider::none}) {
      auto n = _deciders[static_cast<std::size_t>(d)];
      // "none" is the default: nothing applied.
      fmt::format_to(it, "{}\"{}\":{}", first ? "" : ",",
                     d == PXScreeningDecider::none ? "default" : px::deciderName(d), n);
      first = false;
    }
    out += '}';
  } else {
    out += "null";
  }
  out += ",\"operations\":[";
  bool first = true;
  auto ops = operations();
  for (auto* e : ranked(ops, total)) {
    auto code = static_cast<std::int32_t>(e->first & 0xFFFFFFFF);
    fmt::format_to(it, "{}{{\"code\":{},\"global\":{},", first ? "" : ",", code,
                   e->first >> 32 ? "true" : "false");
    // Global codes are not MAP's.
    if (auto name = e->first >> 32 ? std::nullopt : mapOperationName(code))
      fmt::format_to(it, "\"name\":\"{}\",", *name);
    fmt::format_to(it, "\"total\":{},\"verdicts\":", total(e->second));
    appendVerdictCounts(out, e->second);
    out += '}';
    first = false;
  }
  fmt::format_to(it, "],\"prefix_digits\":{},\"calling_prefixes\":[", _prefixDigits);
  first = true;
  auto prefixList = prefixes();
  for (auto* e : ranked(prefixList, total)) {
    fmt::format_to(it, "{}{{\"prefix\":\"{}\",\"total\":{},\"verdicts\":", first ? "" : ",",
                   e->first, total(*e->second));
    appendVerdictCounts(out, *e->second);
    out += '}';
    first = false;
  }
  out += "],\"calling_prefixes_not_kept\":";
  appendVerdictCounts(out, _otherPrefixes);
  out += ",\"undecodable\":{";
  first = true;
  for (auto* e : ranked(_undecodable, [](std::uint64_t n) { return n; })) {
    fmt::format_to(it, "{}\"{}\":{}", first ? "" : ",", e->first, e->second);
    first = false;
  }
  out += '}';
}

std::string summaryJson(const Tally& tally, const ExtractorCounts& c, const SccpReassembler& seg,
                        double seconds) {
  std::string s;
  auto it = std::back_inserter(s);
  double rate = seconds > 0 ? static_cast<double>(c.messages) / seconds : 0;
  fmt::format_to(it, "{{\"frames\":{},\"messages\":{},", c.frames, c.messages);
  tally.appendJson(s);
  auto reasons = [&](const SkipCounts& k, bool reassembly) {
    s += '{';
    bool first = true;
    for (std::size_t i = 1; i < kSkipCount; ++i) {
      auto r = static_cast<Skip>(i);
      bool isReassembly =
          r == Skip::reassemblyGap || r == Skip::reassemblyLimit || r == Skip::reassemblyIncomplete;
      if (!k.n[i] || isReassembly != reassembly) continue;
      fmt::format_to(it, "{}\"{}\":{}", first ? "" : ",", skipName(r), k.n[i]);
      first = false;
    }
    s += '}';
  };
  s += ",\"skipped_frames\":";
  reasons(c.framesWithout, false);
  s += ",\"also_skipped\":";
  reasons(c.other, false);
  SkipCounts giveUps = c.other;
  giveUps += c.framesWithout;
  s += ",\"reassembly_given_up\":";
  reasons(giveUps, true);
  fmt::format_to(it, ",\"segmented_messages\":{{\"reassembled\":{},\"given_up\":{{",
                 seg.completed());
  bool firstGiveUp = true;
  for (std::size_t i = 0; i < kSccpGiveUpReasons; ++i)
    if (auto k = seg.gaveUp(static_cast<SccpGiveUp>(i))) {
      fmt::format_to(it, "{}\"{}\":{}", firstGiveUp ? "" : ",",
                     sccpGiveUpName(static_cast<SccpGiveUp>(i)), k);
      firstGiveUp = false;
    }
  s += "}}";
  fmt::format_to(it, ",\"elapsed_s\":{:.6f},\"messages_per_s\":{:.0f}}}\n", seconds, rate);
  return s;
}

}  // namespace qs
