// A frame as libpcap hands it over, taken into a Frame: shared by the sources
// that read through a pcap_t (a pcap file, a live interface).
#pragma once

#include <pcap/pcap.h>

#include <cstdint>

#include "FrameSource.hpp"

namespace qs {

// Fills `f` with frame number `number`. `ticksInNs`: the capture was opened
// with nanosecond precision, so tv_usec holds nanoseconds. `nanoPrecision`:
// the time is to be written out again to the nanosecond.
inline void takePcapFrame(Frame& f, const pcap_pkthdr& header, const u_char* data,
                          std::uint64_t number, bool ticksInNs, bool nanoPrecision) {
  f.bytes = Bytes(data, header.caplen);
  f.number = number;
  f.unreadable = Skip::none;
  f.timeNs = std::int64_t{header.ts.tv_sec} * 1'000'000'000 +
             (ticksInNs ? header.ts.tv_usec : header.ts.tv_usec * 1000);
  f.hasTime = true;
  f.nanoPrecision = nanoPrecision;
  f.originalLength = header.len;
}

}  // namespace qs
