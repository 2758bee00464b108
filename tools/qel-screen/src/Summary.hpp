// What a run adds up to: counts per verdict, decider, operation code and
// calling prefix, for the text summary, --summary json and `diff`.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Extractor.hpp"
#include "px/ScreeningResult.hpp"
#include "px/ScreeningTrace.hpp"
#include "px/sccp/SccpPacket.hpp"
#include "px/sccp/SccpReassembly.hpp"

namespace qs {

// Counting slots: the verdicts, then any other value, undecodable messages,
// and undecodable messages that were still screened.
inline constexpr std::array<std::int32_t, 6> kVerdicts = {
    PXSccpScreening_explicitlyPermitted, PXSccpScreening_implicitlyPermitted,
    PXSccpScreening_explicitlyDenied,    PXSccpScreening_implicitlyDenied,
    PXSccpScreening_undefined,           PXSccpScreening_errorResult};
inline constexpr std::size_t kSlotOther = kVerdicts.size();
inline constexpr std::size_t kSlotUndecodable = kVerdicts.size() + 1;
inline constexpr std::size_t kSlotPartlyScreened = kVerdicts.size() + 2;
// Messages that leave the home network: not screened.
inline constexpr std::size_t kSlotOutbound = kVerdicts.size() + 3;
inline constexpr std::size_t kSlots = kVerdicts.size() + 4;

// The slots of the five usual verdicts, -2 to 2: counted for every message.
inline constexpr std::array<std::uint8_t, 5> kUsualVerdictSlots = {3, 2, 4, 0, 1};
static_assert(kVerdicts[kUsualVerdictSlots[0]] == -2 && kVerdicts[kUsualVerdictSlots[1]] == -1 &&
              kVerdicts[kUsualVerdictSlots[2]] == 0 && kVerdicts[kUsualVerdictSlots[3]] == 1 &&
              kVerdicts[kUsualVerdictSlots[4]] == 2);

constexpr std::size_t slotOf(std::int32_t verdict) {
  if (verdict >= -2 && verdict <= 2)
    return kUsualVerdictSlots[static_cast<std::size_t>(verdict + 2)];
  for (std::size_t i = 0; i < kVerdicts.size(); ++i)
    if (kVerdicts[i] == verdict) return i;
  return kSlotOther;
}
constexpr bool isDenied(std::int32_t verdict) {
  return verdict == PXSccpScreening_explicitlyDenied || verdict == PXSccpScreening_implicitlyDenied;
}

// A calling prefix of up to Tally::kMaxPrefixDigits digits packed into one
// integer, and back; kNoPrefix is none.
inline constexpr std::uint64_t kNoPrefix = ~std::uint64_t{0};
std::uint64_t prefixKey(std::string_view prefix);
std::string prefixText(std::uint64_t key);

class Tally {
 public:
  // Per verdict slot (kVerdicts, then other; the last slot: not screened).
  using Counts = std::array<std::uint64_t, kVerdicts.size() + 2>;
  static constexpr std::size_t kNotScreened = kVerdicts.size() + 1;
  // Distinct prefixes counted; more land in "other".
  static constexpr std::size_t kMaxPrefixes = 1 << 16;
  // Longest prefix counted (digits packed in 60 bits).
  static constexpr unsigned kMaxPrefixDigits = 15;

  explicit Tally(unsigned prefixDigits = 5)
      : _prefixDigits(prefixDigits < kMaxPrefixDigits ? prefixDigits : kMaxPrefixDigits) {}

  // One message: its packet (null when none formed), verdict (when
  // screened), the trace when the decider is known, the decoder's complaint.
  void add(const PXSCCP_Packet* packet, std::optional<std::int32_t> verdict,
           const PXSccpScreeningTrace* trace, std::optional<std::string_view> error);

  // Adds what `other` counted (a pipeline worker's, which holds no prefixes).
  void merge(const Tally& other);

  // A calling prefix (packed) and the verdict slot it is counted in.
  struct PrefixCount {
    std::uint64_t key = kNoPrefix;
    std::uint8_t slot = 0;
  };
  // A pipeline worker's tally leaves each message's prefix to the writer
  // stage, which counts them in capture order: the bound on prefixes keeps
  // the first ones met, and one table is all the memory they take.
  void leavePrefixes() { _leavePrefixes = true; }
  // The prefix of the last message added, then none.
  PrefixCount takePrefix() { return std::exchange(_left, PrefixCount{}); }
  void addPrefix(PrefixCount p) {
    if (p.key == kNoPrefix) return;
    if (Counts* c = _prefixes.get(p.key))
      ++(*c)[p.slot];
    else
      ++_otherPrefixes[p.slot];
  }

  unsigned prefixDigits() const { return _prefixDigits; }
  const Counts& verdicts() const { return _verdicts; }
  std::uint64_t inbound() const { return _inbound; }
  // A message that leaves the home network (not screened, not otherwise counted).
  void addOutbound() { ++_outbound; }

  // "  top denied operations: 71 (14), ..." and the calling prefixes, ten
  // each: ranked by denied messages, or (`deniedOnly` false) by all.
  std::string topText(std::string_view adjective, bool deniedOnly) const;
  // The keys of --summary json from "verdicts" to "calling_prefixes".
  void appendJson(std::string& out) const;

 private:
  // Counted per message, so kept cheap: local operation codes below 256 in
  // an array, prefixes packed into integers in an open-addressing table.
  // The counts are kept densely, in the order the prefixes first came, so
  // that the table's free slots cost 12 octets each rather than a Counts.
  struct PrefixTable {
    std::vector<std::uint64_t> keys;  // kNoPrefix: free
    std::vector<std::uint32_t> at;    // the key's place in counts
    std::vector<Counts> counts;
    // The key's counts, added when new; null once kMaxPrefixes are held.
    Counts* get(std::uint64_t key) {
      if (!keys.empty()) {
        const std::size_t i = placeOf(key);
        if (keys[i] == key) return &counts[at[i]];
      }
      return find(key);
    }
    std::size_t placeOf(std::uint64_t key) const {
      // Fibonacci hashing spreads the packed digits over the table.
      return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 20) & (keys.size() - 1);
    }
    Counts* find(std::uint64_t key);
  };
  std::map<std::int64_t, Counts> operations() const;
  // Each prefix text with its counts, in the table's order.
  std::vector<std::pair<std::string, const Counts*>> prefixes() const;

  unsigned _prefixDigits;
  Counts _verdicts{};
  std::uint64_t _inbound = 0;
  std::uint64_t _outbound = 0;
  std::array<std::uint64_t, 8> _deciders{};
  bool _decidersKnown = false;
  std::array<Counts, 256> _smallOperations{};
  // Other codes; global codes with bit 32 set.
  std::map<std::int64_t, Counts> _otherOperations;
  PrefixTable _prefixes;
  Counts _otherPrefixes{};
  std::map<std::string, std::uint64_t, std::less<>> _undecodable;
  bool _leavePrefixes = false;
  PrefixCount _left;
};

// Writes `{"key":count,...}` for the nonzero counts of `counts` by verdict name.
void appendVerdictCounts(std::string& out, const Tally::Counts& counts);

// --summary json, one line.
std::string summaryJson(const Tally& tally, const ExtractorCounts& c,
                        const px::SccpReassembler& seg, double seconds);

}  // namespace qs
