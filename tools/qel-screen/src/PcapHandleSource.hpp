// The sources that read through a libpcap handle (a pcap file, a live
// interface): the handle, its link type, and frames taken from it.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <string>
#include <utility>

#include "FrameSource.hpp"

namespace qs {

class PcapHandleSource : public FrameSource {
 public:
  ~PcapHandleSource() override { pcap_close(_pcap); }

  int linkType() const override { return _linkType; }
  bool nanosecond() const override { return _nano; }

 protected:
  // Takes `pcap` over. `ticksInNs`: it was opened with nanosecond precision,
  // so tv_usec holds nanoseconds. `nano`: the times are to be written out
  // again to the nanosecond.
  PcapHandleSource(std::string name, pcap_t* pcap, bool nano, bool ticksInNs)
      : _pcap(pcap), _linkType(pcap_datalink(pcap)), _nano(nano), _ticksInNs(ticksInNs) {
    _name = std::move(name);
  }

  // pcap_next_ex's result; for 1 the frame is in `f`, valid until the next read.
  int read(Frame& f) {
    pcap_pkthdr* header;
    const u_char* data;
    const int r = pcap_next_ex(_pcap, &header, &data);
    if (r != 1) return r;
    f.bytes = Bytes(data, header->caplen);
    f.timeNs = std::int64_t{header->ts.tv_sec} * 1'000'000'000 +
               (_ticksInNs ? header->ts.tv_usec : header->ts.tv_usec * 1000);
    f.originalLength = header->len;
    stamp(f);
    return r;
  }

  // For a frame read past libpcap (bytes, time and length filled in): its
  // number, and what every frame of this source has.
  void stamp(Frame& f) {
    f.number = ++_number;
    f.unreadable = Skip::none;
    f.hasTime = true;
    f.nanoPrecision = _nano;
  }

  pcap_t* const _pcap;

 private:
  int _linkType;
  bool _nano;
  bool _ticksInNs;
  std::uint64_t _number = 0;
};

}  // namespace qs
