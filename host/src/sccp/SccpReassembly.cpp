#include "px/sccp/SccpReassembly.hpp"

#include <algorithm>

#include "px/EnumNames.hpp"

namespace px {

std::string_view sccpGiveUpName(SccpGiveUp r) {
  static constexpr EnumName<SccpGiveUp> kNames[] = {
      {SccpGiveUp::outOfOrder, "out of order"},
      {SccpGiveUp::duplicate, "duplicate"},
      {SccpGiveUp::countMismatch, "count does not follow"},
      {SccpGiveUp::restarted, "new first segment"},
      {SccpGiveUp::noFirstSegment, "no first segment"},
      {SccpGiveUp::timeout, "timed out"},
      {SccpGiveUp::capacity, "over the message bound"},
      {SccpGiveUp::tooLong, "too long"},
      {SccpGiveUp::finished, "never completed"},
  };
  return enumName(r, kNames);
}

SccpReassembler::Listener::~Listener() = default;

SccpReassembler::SccpReassembler(SccpReassemblyLimits limits)
    : _limits(limits), _slots(std::max<std::size_t>(limits.maxMessages, 1)), _keyOf(_slots.size()) {
  _free.reserve(_slots.size());
  for (std::size_t i = _slots.size(); i-- > 0;) {
    _slots[i].slot = static_cast<std::uint32_t>(i);
    _free.push_back(static_cast<std::uint32_t>(i));
  }
}

SccpReassembler::~SccpReassembler() = default;

std::string SccpReassembler::key(std::span<const std::uint8_t> calling, std::uint32_t reference,
                                 std::uint32_t opc) {
  std::string k;
  k.reserve(8 + calling.size());
  for (int shift = 0; shift < 32; shift += 8) k += static_cast<char>((reference >> shift) & 0xFF);
  for (int shift = 0; shift < 32; shift += 8) k += static_cast<char>((opc >> shift) & 0xFF);
  k.append(calling.begin(), calling.end());
  return k;
}

void SccpReassembler::giveUp(Pending& p, SccpGiveUp why, Listener& listener) {
  ++_gaveUp[static_cast<std::size_t>(why)];
  listener.gaveUp(p, why);
  _byKey.erase(_keyOf[p.slot]);
  p.inUse = false;
  p.first.clear();
  p.data.clear();
  // Memory of a long message is not kept for the next one.
  if (p.data.capacity() > 4096) std::vector<std::uint8_t>().swap(p.data);
  _free.push_back(p.slot);
}

void SccpReassembler::expire(std::uint64_t nowNs, Listener& listener) {
  while (!_order.empty()) {
    auto [slot, generation] = _order.front();
    Pending& p = _slots[slot];
    if (!p.inUse || p.generation != generation) {
      _order.pop_front();
      continue;
    }
    if (nowNs < p.startNs || nowNs - p.startNs <= _limits.maxAgeNs) break;
    _order.pop_front();
    giveUp(p, SccpGiveUp::timeout, listener);
  }
}

void SccpReassembler::finish(Listener& listener) {
  while (!_order.empty()) {
    auto [slot, generation] = _order.front();
    _order.pop_front();
    Pending& p = _slots[slot];
    if (p.inUse && p.generation == generation) giveUp(p, SccpGiveUp::finished, listener);
  }
}

SccpReassembler::Result SccpReassembler::add(const PXSCCP_Packet& packet,
                                             std::span<const std::uint8_t> bytes, std::uint32_t opc,
                                             std::uint64_t nowNs, PXSCCP_Packet& joined,
                                             Listener& listener) {
  Result r;
  const auto& seg = packet.segmentation();
  if (!seg || (seg->first && seg->remaining == 0)) return r;
  expire(nowNs, listener);

  std::string k = key(packet.callingPartyAddressBytes(), seg->localReference, opc);
  auto found = _byKey.find(k);

  if (seg->first) {
    if (found != _byKey.end()) giveUp(_slots[found->second], SccpGiveUp::restarted, listener);
    if (_free.empty()) {
      // Full: the oldest message makes room.
      while (_free.empty() && !_order.empty()) {
        auto [slot, generation] = _order.front();
        _order.pop_front();
        Pending& old = _slots[slot];
        if (old.inUse && old.generation == generation) giveUp(old, SccpGiveUp::capacity, listener);
      }
    }
    const std::uint32_t slot = _free.back();
    _free.pop_back();
    Pending& p = _slots[slot];
    p.inUse = true;
    ++p.generation;
    p.total = static_cast<std::uint8_t>(seg->remaining + 1);
    p.received = 1;
    p.first.assign(bytes.begin(), bytes.end());
    p.data.assign(packet.data().begin(), packet.data().end());
    p.startNs = nowNs;
    p.opc = opc;
    p.reference = seg->localReference;
    _byKey.emplace(k, slot);
    _keyOf[slot] = std::move(k);
    _order.emplace_back(slot, p.generation);
    // Entries of finished messages are dropped from the front only; keep
    // the queue from growing behind one long-lived message.
    if (_order.size() > 4 * _slots.size()) {
      std::erase_if(_order, [&](const auto& e) {
        return !_slots[e.first].inUse || _slots[e.first].generation != e.second;
      });
    }
    r.status = Status::held;
    r.slot = slot;
    r.position = 1;
    r.total = p.total;
    return r;
  }

  if (found == _byKey.end()) {
    ++_gaveUp[static_cast<std::size_t>(SccpGiveUp::noFirstSegment)];
    r.status = Status::alone;
    return r;
  }
  Pending& p = _slots[found->second];
  const unsigned expected = static_cast<unsigned>(p.total - p.received - 1);
  if (seg->remaining != expected) {
    // The segment before repeated, one skipped, or a count the first never announced.
    const SccpGiveUp why = seg->remaining == expected + 1 ? SccpGiveUp::duplicate
                           : seg->remaining < expected    ? SccpGiveUp::outOfOrder
                                                          : SccpGiveUp::countMismatch;
    giveUp(p, why, listener);
    r.status = Status::alone;
    return r;
  }
  if (p.data.size() + packet.data().size() > kMaxMessageOctets) {
    giveUp(p, SccpGiveUp::tooLong, listener);
    r.status = Status::alone;
    return r;
  }
  p.data.insert(p.data.end(), packet.data().begin(), packet.data().end());
  ++p.received;
  r.slot = p.slot;
  r.position = p.received;
  r.total = p.total;
  if (p.received < p.total) {
    r.status = Status::held;
    return r;
  }

  // The whole message: the first segment's addresses and type, all the data.
  std::swap(_joinedData, p.data);
  _joinedFirst.swap(p.first);
  joined.decode(_joinedFirst);
  joined.setData(_joinedData);
  if (_joinedData.empty() || !joined.mutableTcap().decode(_joinedData)) joined.removeTcap();
  ++_completed;
  _byKey.erase(_keyOf[p.slot]);
  p.inUse = false;
  p.data.clear();
  p.first.clear();
  _free.push_back(p.slot);
  r.status = Status::complete;
  return r;
}

}  // namespace px
