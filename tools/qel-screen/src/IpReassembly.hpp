// Reassembly of IPv4 and IPv6 datagrams sent in fragments (RFC 791 3.2,
// RFC 8200 4.5), as a receiving host does it, within a fixed memory bound.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <span>
#include <unordered_map>
#include <vector>

#include "Bytes.hpp"
#include "Ip.hpp"
#include "SkipReason.hpp"

namespace qs {

struct IpReassemblyLimits {
  std::size_t maxDatagrams = 1024;
  // IPv4 total length, IPv6 payload length: 65,535 is what the fields hold.
  std::size_t maxDatagramBytes = 65535;
  // Everything held: data, headers and bookkeeping.
  std::size_t maxTotalBytes = 8u << 20;
  // Capture time a datagram may take from its first fragment (Linux's
  // ipfrag_time).
  std::int64_t timeoutNs = 30'000'000'000;
};

class IpReassembler {
 public:
  explicit IpReassembler(IpReassemblyLimits limits = {});

  struct Result {
    // none: `datagram` is complete; ipFragment: the fragment is held (or was
    // a duplicate, or ended its datagram's reassembly, counted in `givenUp`);
    // truncated: the capture cut the fragment short.
    Skip skip = Skip::ipFragment;
    // The datagram as if never fragmented: the first fragment's header with
    // the lengths set (and, for IPv6, the fragment header taken out), then
    // the data. Valid until the next add() or clear().
    Bytes datagram;
    // The frames of every fragment, in arrival order; the same lifetime.
    std::span<const std::uint64_t> frames;
  };

  // `fragment` is what ipv4()/ipv6() gave for `packet` (skip == ipFragment).
  // Datagrams given up are counted in `givenUp` by reason.
  Result add(const IpView& fragment, Bytes packet, std::uint64_t frame, std::int64_t timeNs,
             SkipCounts& givenUp);
  // Gives up the datagrams whose first fragment came timeoutNs before `timeNs`.
  void expire(std::int64_t timeNs, SkipCounts& givenUp);

  // Datagrams in reassembly, and the bytes they hold.
  std::size_t pending() const { return _byAge.size(); }
  std::size_t heldBytes() const { return _heldBytes; }
  // Forgets every datagram without counting it.
  void clear();
  // True when `view` lies inside the last completed datagram.
  bool owns(Bytes view) const {
    return !_done.empty() && view.data() >= _done.data() &&
           view.data() + view.size() <= _done.data() + _done.size();
  }

 private:
  struct Key {
    std::array<std::uint8_t, 16> src{};
    std::array<std::uint8_t, 16> dst{};
    std::uint32_t id = 0;
    std::uint8_t protocol = 0;
    std::uint8_t version = 0;
    friend bool operator==(const Key&, const Key&) = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const;
  };
  struct Range {
    std::uint32_t from, to;
  };
  struct Datagram {
    Key key;
    std::int64_t started = 0;
    std::vector<std::uint8_t> header;  // from the fragment at offset 0
    std::vector<std::uint8_t> data;    // up to the highest end seen
    std::vector<Range> have;           // received, sorted and disjoint
    std::vector<std::uint64_t> frames;
    std::uint32_t total = 0;  // known once the last fragment came
    std::uint16_t nextHeaderAt = 0;
    bool last = false;
    std::size_t charged = 0;  // bytes counted in _heldBytes
  };
  using List = std::list<Datagram>;

  void drop(List::iterator d, Skip why, SkipCounts& givenUp);
  void recharge(Datagram& d);
  Result complete(List::iterator d);

  IpReassemblyLimits _limits;
  List _byAge;  // oldest first
  std::unordered_map<Key, List::iterator, KeyHash> _index;
  std::size_t _heldBytes = 0;
  std::vector<std::uint8_t> _done;
  std::vector<std::uint64_t> _doneFrames;
};

}  // namespace qs
