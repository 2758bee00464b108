#include "IpReassembly.hpp"

#include <algorithm>
#include <cstring>

namespace qs {

namespace {

// A datagram of 65,535 octets has at most this many fragments that bring
// data; duplicates beyond it are not recorded.
constexpr std::size_t kMaxFramesPerDatagram = 65536 / 8 + 1;

std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

std::size_t IpReassembler::KeyHash::operator()(const Key& k) const {
  std::uint64_t h = k.id * 0x9E3779B97F4A7C15ull ^ (std::uint64_t{k.protocol} << 8 | k.version);
  for (std::size_t i = 0; i < 16; i += 8) {
    h = (h ^ load64(k.src.data() + i)) * 0x100000001B3ull;
    h = (h ^ load64(k.dst.data() + i)) * 0x100000001B3ull;
  }
  return static_cast<std::size_t>(h ^ (h >> 29));
}

IpReassembler::IpReassembler(IpReassemblyLimits limits) : _limits(limits) {}

void IpReassembler::clear() {
  _index.clear();
  _byAge.clear();
  _heldBytes = 0;
}

void IpReassembler::drop(List::iterator d, Skip why, SkipCounts& givenUp) {
  givenUp.add(why);
  _heldBytes -= d->charged;
  _index.erase(d->key);
  _byAge.erase(d);
}

void IpReassembler::recharge(Datagram& d) {
  std::size_t now = sizeof(Datagram) + d.header.capacity() + d.data.capacity() +
                    d.have.capacity() * sizeof(Range) + d.frames.capacity() * sizeof(std::uint64_t);
  _heldBytes = _heldBytes - d.charged + now;
  d.charged = now;
}

void IpReassembler::expire(std::int64_t timeNs, SkipCounts& givenUp) {
  while (!_byAge.empty() && timeNs - _byAge.front().started > _limits.timeoutNs)
    drop(_byAge.begin(), Skip::ipReassemblyTimeout, givenUp);
}

IpReassembler::Result IpReassembler::add(const IpView& v, Bytes packet, std::uint64_t frame,
                                         std::int64_t timeNs, SkipCounts& givenUp) {
  expire(timeNs, givenUp);
  if (v.cut) return Result{Skip::truncated, {}, {}};

  const IpFragment& f = v.fragment;
  std::size_t length = v.payload.size();
  if (f.more && length % 8 != 0) {
    // RFC 8200 4.5 discards such a fragment; for IPv4 the data past the last
    // multiple of 8 is dropped, as Linux does.
    if (v.version == 6) return Result{Skip::badIp, {}, {}};
    length &= ~std::size_t{7};
  }
  // An empty fragment brings nothing; receivers drop it.
  if (length == 0) return Result{};
  std::uint32_t from = f.offset;
  auto to = static_cast<std::uint32_t>(from + length);

  Key key;
  key.src = v.src;
  key.dst = v.dst;
  key.id = f.id;
  key.protocol = f.protocol;
  key.version = v.version;
  auto found = _index.find(key);

  // The header that precedes the data in the datagram's own length field.
  std::size_t extra = v.version == 4 ? f.headerLength : f.headerLength - std::size_t{40};
  if (extra + to > _limits.maxDatagramBytes) {
    if (found != _index.end())
      drop(found->second, Skip::ipReassemblyBadLength, givenUp);
    else
      givenUp.add(Skip::ipReassemblyBadLength);
    return Result{};
  }

  List::iterator d;
  if (found != _index.end()) {
    d = found->second;
  } else {
    if (_byAge.size() >= _limits.maxDatagrams && !_byAge.empty())
      drop(_byAge.begin(), Skip::ipReassemblyLimit, givenUp);
    _byAge.emplace_back();
    d = std::prev(_byAge.end());
    d->key = key;
    d->started = timeNs;
    _index.emplace(key, d);
  }

  // The end of the datagram is told once; data past it, or a second
  // different end, means the fragments cannot be of one datagram.
  std::uint32_t highest = d->have.empty() ? 0 : d->have.back().to;
  if ((!f.more && ((d->last && d->total != to) || highest > to)) ||
      (f.more && d->last && to > d->total)) {
    drop(d, Skip::ipReassemblyBadLength, givenUp);
    return Result{};
  }

  // RFC 5722 (and Linux for IPv4 too): a fragment that overlaps data already
  // received gives the whole datagram up; one that only repeats data is a
  // duplicate and is ignored.
  auto after = std::partition_point(d->have.begin(), d->have.end(),
                                    [&](const Range& r) { return r.to <= from; });
  if (after != d->have.end() && after->from < to) {
    if (after->from <= from && to <= after->to) {
      if (d->frames.size() < kMaxFramesPerDatagram) {
        d->frames.push_back(frame);
        recharge(*d);
      }
      return Result{};
    }
    drop(d, Skip::ipReassemblyOverlap, givenUp);
    return Result{};
  }

  if (!f.more) {
    d->last = true;
    d->total = to;
  }
  if (from == 0) {
    d->header.assign(packet.begin(), packet.begin() + f.headerLength);
    d->nextHeaderAt = f.nextHeaderAt;
  }
  if (d->data.size() < to) d->data.resize(to);
  std::copy_n(v.payload.begin(), length, d->data.begin() + from);
  // Insert [from, to) before `after`, joined with the neighbours it touches.
  bool joinPrev = after != d->have.begin() && std::prev(after)->to == from;
  bool joinNext = after != d->have.end() && after->from == to;
  if (joinPrev && joinNext) {
    std::prev(after)->to = after->to;
    d->have.erase(after);
  } else if (joinPrev) {
    std::prev(after)->to = to;
  } else if (joinNext) {
    after->from = from;
  } else {
    d->have.insert(after, Range{from, to});
  }
  d->frames.push_back(frame);
  recharge(*d);

  if (d->last && d->have.size() == 1 && d->have[0].from == 0 && d->have[0].to == d->total)
    return complete(d);

  // Keep within the byte bound: the oldest datagrams go first, and this one
  // too when it alone is over.
  while (_heldBytes > _limits.maxTotalBytes) {
    bool self = _byAge.begin() == d;
    drop(_byAge.begin(), Skip::ipReassemblyLimit, givenUp);
    if (self) break;
  }
  return Result{};
}

IpReassembler::Result IpReassembler::complete(List::iterator d) {
  const std::size_t headerLength = d->header.size();
  _done.assign(d->header.begin(), d->header.end());
  _done.insert(_done.end(), d->data.begin(), d->data.begin() + d->total);
  if (d->key.version == 4) {
    std::size_t total = headerLength + d->total;
    _done[2] = static_cast<std::uint8_t>(total >> 8);
    _done[3] = static_cast<std::uint8_t>(total);
    _done[6] &= 0x40;  // keep DF; no MF, offset 0
    _done[7] = 0;
  } else {
    std::size_t payload = headerLength - 40 + d->total;
    _done[4] = static_cast<std::uint8_t>(payload >> 8);
    _done[5] = static_cast<std::uint8_t>(payload);
    _done[d->nextHeaderAt] = d->key.protocol;
  }
  _doneFrames.swap(d->frames);
  _heldBytes -= d->charged;
  _index.erase(d->key);
  _byAge.erase(d);
  return Result{Skip::none, _done, _doneFrames};
}

}  // namespace qs
