// The capture layers as the tool runs them: a link type and a sequence of
// frames go through one extractor (link layer, IP, SCTP with reassembly,
// M3UA / M2PA / SUA, MTP2 / MTP3). Every SCCP message handed out must lie in
// its frame or in storage the extractor owns, and reassembly must stay within
// its bounds. A second extractor reads the same frames without its shortcuts:
// both must hand out the same messages and count the same.
//
// Input: one octet choosing the link type, then frames, each preceded by a
// two-octet big-endian length (the last one takes what is left).
#include <array>
#include <cstring>
#include <vector>

#include "Extractor.hpp"
#include "FuzzChecks.hpp"
#include "LinkLayer.hpp"

namespace {

constexpr std::array kLinkTypes = {
    qs::dlt::null, qs::dlt::ethernet, qs::dlt::rawBsd,       qs::dlt::rawOpenBsd, qs::dlt::raw,
    qs::dlt::loop, qs::dlt::linuxSll, qs::dlt::mtp2WithPhdr, qs::dlt::mtp2,       qs::dlt::mtp3,
    qs::dlt::sccp, qs::dlt::ipv4,     qs::dlt::ipv6,         qs::dlt::linuxSll2};

// Small bounds, so that eviction and the limits are reached.
constexpr qs::ReassemblyLimits kLimits{
    .maxMessageBytes = 2048, .maxTotalBytes = 6144, .maxPartialMessages = 4, .maxFragments = 32};

// What the comparison keeps of a message.
struct Unit {
  const std::uint8_t* data;
  std::size_t size;
  bool sua;
  std::size_t ipFrames, sctpFrames;
  qs::MessageOrigin origin;
};

bool same(const Unit& a, const Unit& b) {
  const auto& x = a.origin;
  const auto& y = b.origin;
  return a.data == b.data && a.size == b.size && a.sua == b.sua && a.ipFrames == b.ipFrames &&
         a.sctpFrames == b.sctpFrames && x.opc == y.opc && x.dpc == y.dpc && x.si == y.si &&
         x.ipVersion == y.ipVersion && x.src == y.src && x.dst == y.dst && x.sctp == y.sctp &&
         x.sport == y.sport && x.dport == y.dport && x.stream == y.stream;
}

bool same(const qs::ExtractorCounts& a, const qs::ExtractorCounts& b) {
  return a.frames == b.frames && a.framesWithSccp == b.framesWithSccp && a.messages == b.messages &&
         a.framesWithout.n == b.framesWithout.n && a.other.n == b.other.n;
}

struct Checker : qs::UnitSink {
  const qs::Extractor* extractor = nullptr;
  std::span<const std::uint8_t> frame;
  std::uint32_t expected = 0;
  std::vector<Unit> units;

  void onUnit(const qs::SccpUnit& unit, std::uint32_t index) override {
    units.push_back(Unit{unit.bytes.data(), unit.bytes.size(), unit.sua != nullptr,
                         unit.ipFragmentFrames.size(), unit.sctpFragmentFrames.size(),
                         *unit.origin});
    fuzzcheck::require(index == expected++);
    const bool inFrame = unit.bytes.empty() ||
                         (unit.bytes.data() >= frame.data() &&
                          unit.bytes.data() + unit.bytes.size() <= frame.data() + frame.size());
    fuzzcheck::require(inFrame || extractor->owns(unit.bytes));
    // Read every octet, so that a view into freed storage is reported.
    volatile std::uint8_t sink = 0;
    for (std::uint8_t b : unit.bytes) sink = sink ^ b;
    if (unit.sua) {
      fuzzcheck::require(unit.sua->data.data() == unit.bytes.data() &&
                         unit.sua->data.size() == unit.bytes.size());
      fuzzcheck::address(&unit.sua->calling);
      fuzzcheck::address(&unit.sua->called);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  qs::Extractor x(kLimits), general(kLimits);
  general.setShortcuts(false);
  x.start(kLinkTypes[data[0] % kLinkTypes.size()]);
  general.start(kLinkTypes[data[0] % kLinkTypes.size()]);
  Checker checker, generalChecker;
  checker.extractor = &x;
  generalChecker.extractor = &general;
  std::size_t at = 1, frames = 0;
  while (at < size) {
    std::size_t length = size - at;
    if (length >= 2) {
      std::size_t stated = static_cast<std::size_t>(data[at]) << 8 | data[at + 1];
      at += 2;
      length = std::min(stated, size - at);
    } else {
      at = size;
      length = 0;
    }
    // Each frame in a buffer of its own size, as libpcap hands it over: a
    // read past its end is reported.
    std::vector<std::uint8_t> frame(data + at, data + at + length);
    at += length;
    checker.frame = generalChecker.frame = frame;
    checker.expected = generalChecker.expected = 0;
    checker.units.clear();
    generalChecker.units.clear();
    std::uint32_t n = x.frame(frame, checker);
    fuzzcheck::require(n == checker.expected);
    // A message in reassembly storage lies in each extractor's own: the
    // same octets there, the same position when in the frame.
    fuzzcheck::require(general.frame(frame, generalChecker) == n);
    for (std::uint32_t i = 0; i < n; ++i) {
      Unit a = checker.units[i], b = generalChecker.units[i];
      if (a.size && x.owns({a.data, a.size})) {
        fuzzcheck::require(a.size == b.size && general.owns({b.data, b.size}) &&
                           std::memcmp(a.data, b.data, a.size) == 0);
        a.data = b.data;
      }
      fuzzcheck::require(same(a, b));
    }
    fuzzcheck::require(x.frameHeldFragment() == general.frameHeldFragment());
    fuzzcheck::require(same(x.counts(), general.counts()));
    ++frames;
    const auto& r = x.reassembler();
    fuzzcheck::require(r.heldBytes() <= kLimits.maxTotalBytes);
    fuzzcheck::require(r.pending() <= kLimits.maxPartialMessages);
  }
  x.finish();
  general.finish();
  fuzzcheck::require(same(x.counts(), general.counts()));
  const auto& c = x.counts();
  fuzzcheck::require(c.frames == frames);
  fuzzcheck::require(c.framesWithSccp + c.framesWithout.total() == c.frames);
  fuzzcheck::require(x.reassembler().pending() == 0 && x.reassembler().heldBytes() == 0);
  return 0;
}
