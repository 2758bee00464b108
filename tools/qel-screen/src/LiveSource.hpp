// Frames from a network interface, captured live through libpcap.
#pragma once

#include <memory>
#include <string>

#include "FrameSource.hpp"

namespace qs {

// SCTP over IPv4/IPv6, also behind one or two VLAN tags.
inline constexpr const char* kDefaultLiveFilter =
    "sctp or (ip and proto 132) or (vlan and (sctp or (vlan and sctp)))";

// Opens `interface` (promiscuous only when asked) with the BPF filter `bpf`
// (empty: kDefaultLiveFilter). Null with `error` set when libpcap refuses.
std::unique_ptr<FrameSource> openLive(const std::string& interface, const std::string& bpf,
                                      bool promiscuous, std::string& error);

}  // namespace qs
