#include "Extractor.hpp"

#include <algorithm>

#include "Adaptation.hpp"
#include "Ip.hpp"
#include "LinkLayer.hpp"

namespace qs {

namespace {

Skip suaSkip(px::SuaDecodeError e) {
  switch (e) {
    case px::SuaDecodeError::none:
      return Skip::none;
    case px::SuaDecodeError::truncated:
      return Skip::truncated;
    case px::SuaDecodeError::notCldt:
      return Skip::suaNotCldt;
    case px::SuaDecodeError::malformed:
      break;
  }
  return Skip::badSua;
}

}  // namespace

Extractor::Extractor(ReassemblyLimits limits, IpReassemblyLimits ipLimits)
    : _reassembler(limits), _ipReassembler(ipLimits) {}

void Extractor::start(int linkType) {
  _linkType = linkType;
  _reassembler.clear();
  _ipReassembler.clear();
}

void Extractor::note(Skip s) {
  if (s == Skip::none) return;
  if (_frameSkip == Skip::none)
    _frameSkip = s;
  else if (s != Skip::sctpFragment && s != Skip::sctpDuplicate && s != Skip::ipFragment)
    _counts.other.add(s);
}

void Extractor::settleAbandonedFrames() {
  std::uint64_t k = _reassembler.takeAbandonedFrames();
  if (!k) return;
  _counts.framesWithout.n[static_cast<std::size_t>(Skip::sctpFragment)] -= k;
  _counts.framesWithout.add(Skip::reassemblyIncomplete, k);
}

void Extractor::unreadableFrame(Skip why) {
  ++_counts.frames;
  _counts.framesWithout.add(why);
}

void Extractor::finish() {
  _counts.other.add(Skip::reassemblyIncomplete, _reassembler.pending());
  _counts.other.add(Skip::ipReassemblyIncomplete, _ipReassembler.pending());
  _reassembler.clear();
  _ipReassembler.clear();
  settleAbandonedFrames();
}

void Extractor::sctp(Bytes packet, UnitSink& sink) {
  // A whole chunk of M3UA DATA: what dataChunk() would set and emit, without
  // its turns. (The ports are read once there is a chunk: the packet has its
  // common header then.)
  auto wholeM3ua = [&](std::uint32_t ppid, std::uint16_t stream, Bytes userData) {
    View v;
    if (!_shortcuts || ppid != kPpidM3ua || !m3uaSccpQuick(userData, v)) return false;
    _origin.opc = v.opc;
    _origin.dpc = v.dpc;
    _origin.si = v.si;
    _origin.sctp = true;
    _origin.sport = be16(packet, 0);
    _origin.dport = be16(packet, 2);
    _origin.stream = stream;
    emit(v.bytes, nullptr, sink);
    return true;
  };
  SctpPacketInfo info = sctpChunks(
      packet, [&](const DataChunk& c) { dataChunk(c, be16(packet, 0), be16(packet, 2), sink); },
      wholeM3ua);
  if (info.skip != Skip::none)
    note(info.skip);
  else if (info.dataChunks == 0)
    note(Skip::sctpNoData);
}

// Inlined into frame(): most frames come this way.
[[gnu::always_inline]] inline void Extractor::ipv4Datagram(Bytes bytes, UnitSink& sink) {
  Bytes payload;
  if (!_shortcuts || !ipv4Sctp(bytes, payload)) return ip(bytes, false, sink);
  _origin.ipVersion = 4;
  // As IpView holds them: the address, then zeros.
  _origin.src = {};
  _origin.dst = {};
  std::copy_n(bytes.begin() + 12, 4, _origin.src.begin());
  std::copy_n(bytes.begin() + 16, 4, _origin.dst.begin());
  sctp(payload, sink);
}

// Inlined into both frame()s: one turn less for every frame.
[[gnu::always_inline]] inline std::uint32_t Extractor::links(Bytes bytes, int linkType,
                                                             UnitSink& sink) {
  ++_counts.frames;
  _index = 0;
  _frameSkip = Skip::none;
  _origin.resetLayers();
  _heldFragment = false;
  if (linkType < 0) linkType = _linkType;
  Bytes datagram;
  if (_shortcuts && linkType == dlt::ethernet && ethernetIpv4(bytes, datagram)) {
    ipv4Datagram(datagram, sink);
  } else if (LinkView link = linkLayer(linkType, bytes)) {
    network(link.network, link.payload, sink);
  } else {
    note(link.skip);
  }
  if (_index == 0) {
    _counts.framesWithout.add(_frameSkip == Skip::none ? Skip::sctpNoData : _frameSkip);
    if (_frameSkip == Skip::sctpFragment) _reassembler.frameWaits(_frameFragment);
  } else {
    ++_counts.framesWithSccp;
    if (_frameSkip != Skip::none && _frameSkip != Skip::sctpFragment &&
        _frameSkip != Skip::sctpDuplicate && _frameSkip != Skip::ipFragment)
      _counts.other.add(_frameSkip);
  }
  if (_reassembler.hasAbandonedFrames()) settleAbandonedFrames();
  return _index;
}

std::uint32_t Extractor::frame(Bytes bytes, UnitSink& sink, const FrameInfo& info) {
  _frame = info;
  return links(bytes, info.linkType, sink);
}

std::uint32_t Extractor::frame(const Frame& f, UnitSink& sink) {
  setTime(f.hasTime, f.timeNs, f.nanoPrecision);
  if (f.unreadable != Skip::none) {
    unreadableFrame(f.unreadable);
    return 0;
  }
  _frame.number = f.number;
  _frame.timeNs = f.timeNs;
  _unit.frame = f.number;
  return links(f.bytes, f.linkType, sink);
}

void Extractor::network(Network n, Bytes bytes, UnitSink& sink) {
  switch (n) {
    case Network::ipv4:
      ipv4Datagram(bytes, sink);
      break;
    case Network::ipv6:
      ip(bytes, true, sink);
      break;
    case Network::mtp2:
    case Network::mtp2Extended: {
      View v = mtp2Mtp3(bytes, n == Network::mtp2Extended);
      if (v)
        mtp3(v.bytes, sink);
      else
        note(v.skip);
      break;
    }
    case Network::mtp3:
      mtp3(bytes, sink);
      break;
    case Network::sccp:
      emit(bytes, nullptr, sink);
      break;
  }
}

void Extractor::emitRouted(const View& v, UnitSink& sink) {
  if (v.routed) {
    _origin.opc = v.opc;
    _origin.dpc = v.dpc;
    _origin.si = v.si;
  }
  if (v)
    emit(v.bytes, nullptr, sink);
  else
    note(v.skip);
}

void Extractor::mtp3(Bytes bytes, UnitSink& sink) {
  emitRouted(mtp3Sccp(bytes), sink);
}

void Extractor::ip(Bytes bytes, bool v6, UnitSink& sink) {
  IpView v = v6 ? ipv6(bytes) : ipv4(bytes);
  if (v.skip == Skip::ipFragment) {
    auto r = _ipReassembler.add(v, bytes, _frame.number, _frame.timeNs, _counts.other);
    if (r.skip == Skip::ipFragment) _heldFragment = true;
    if (r.skip != Skip::none) {
      note(r.skip);
      return;
    }
    // The datagram is read like one never fragmented; a fragment header
    // inside it again is not reassembled a second time.
    // Its frames go with the messages it carries, and no further.
    _unit.ipFragmentFrames = r.frames;
    v = v6 ? ipv6(r.datagram) : ipv4(r.datagram);
  }
  if (v) {
    _origin.ipVersion = v6 ? 6 : 4;
    _origin.src = v.src;
    _origin.dst = v.dst;
    sctp(v.payload, sink);
  } else {
    note(v.skip);
  }
  _unit.ipFragmentFrames = {};
}

void Extractor::dataChunk(const DataChunk& c, std::uint16_t sp, std::uint16_t dp, UnitSink& sink) {
  // Each chunk sets its own routing; a fragment's is that of its last chunk.
  _origin.opc.reset();
  _origin.dpc.reset();
  _origin.si.reset();
  _origin.sctp = true;
  _origin.sport = sp;
  _origin.dport = dp;
  _origin.stream = c.stream;
  if (c.whole()) {
    sctpUserMessage(c.ppid, sp, dp, c.userData, sink);
    return;
  }
  // Payloads that cannot carry SCCP are not reassembled: they would only
  // take memory.
  if (c.begin() && userAdaptation(c.ppid, sp, dp) == UserAdaptation::none) {
    note(Skip::notSigtran);
    return;
  }
  SctpFlow flow;
  flow.src = _origin.src;
  flow.dst = _origin.dst;
  flow.srcPort = sp;
  flow.dstPort = dp;
  flow.stream = c.stream;
  flow.unordered = c.unordered();
  flow.idata = c.idata;
  flow.mid = c.idata ? c.mid : 0;
  auto r = _reassembler.add(flow, c, _counts.other, _frame.number);
  if (r.skip != Skip::none) {
    if (r.skip == Skip::sctpFragment && _frameSkip == Skip::none) _frameFragment = r.partial;
    if (r.skip == Skip::sctpFragment) _heldFragment = true;
    note(r.skip);
    return;
  }
  _unit.sctpFragmentFrames = r.frames;
  sctpUserMessage(r.ppid, sp, dp, r.message, sink);
  _unit.sctpFragmentFrames = {};
}

void Extractor::sctpUserMessage(std::uint32_t ppid, std::uint16_t sp, std::uint16_t dp,
                                Bytes message, UnitSink& sink) {
  switch (userAdaptation(ppid, sp, dp)) {
    case UserAdaptation::m3ua:
      emitRouted(m3uaSccp(message), sink);
      return;
    case UserAdaptation::m2pa: {
      View v = m2paMtp3(message);
      if (v)
        mtp3(v.bytes, sink);
      else
        note(v.skip);
      return;
    }
    case UserAdaptation::sua: {
      Skip s = suaSkip(px::suaCldt(message, _sua));
      if (s == Skip::none) {
        if (auto pc = _sua.calling.pointCode()) _origin.opc = *pc;
        if (auto pc = _sua.called.pointCode()) _origin.dpc = *pc;
        emit(_sua.data, &_sua, sink);
      } else
        note(s);
      return;
    }
    case UserAdaptation::none:
      note(Skip::notSigtran);
      return;
  }
}

}  // namespace qs
