#include "SkipReason.hpp"

namespace qs {

namespace {
struct Names {
  std::string_view name;
  std::string_view description;
};
constexpr std::array<Names, kSkipCount> kNames{{
    {"none", "none"},
    {"truncated", "truncated frame"},
    {"unsupportedLinkType", "unsupported link type"},
    {"notIp", "not IP"},
    {"badIp", "malformed IP header"},
    {"ipFragment", "IP fragment (held for reassembly)"},
    {"notSctp", "not SCTP"},
    {"badSctp", "malformed SCTP"},
    {"sctpNoData", "SCTP without DATA"},
    {"sctpFragment", "SCTP fragment (message completed later)"},
    {"reassemblyGap", "SCTP fragment out of sequence"},
    {"reassemblyLimit", "SCTP reassembly over memory bound"},
    {"reassemblyIncomplete", "SCTP message never completed"},
    {"sctpDuplicate", "SCTP fragment retransmitted"},
    {"notSigtran", "SCTP payload not M3UA/M2PA/SUA"},
    {"m3uaNotData", "M3UA not DATA"},
    {"badM3ua", "malformed M3UA"},
    {"m2paNotData", "M2PA without user data"},
    {"badM2pa", "malformed M2PA"},
    {"suaNotCldt", "SUA not CLDT"},
    {"badSua", "malformed SUA"},
    {"mtp2NotMsu", "MTP2 not MSU"},
    {"notSccp", "MTP3 user not SCCP"},
    {"badHex", "line not hex"},
    {"ipReassemblyOverlap", "IP fragments overlapping"},
    {"ipReassemblyBadLength", "IP fragments of impossible length"},
    {"ipReassemblyLimit", "IP reassembly over memory bound"},
    {"ipReassemblyTimeout", "IP datagram not completed in time"},
    {"ipReassemblyIncomplete", "IP datagram never completed"},
}};
}  // namespace

std::string_view skipName(Skip s) {
  auto i = static_cast<std::size_t>(s);
  return i < kSkipCount ? kNames[i].name : "unknown";
}

std::string_view skipDescription(Skip s) {
  auto i = static_cast<std::size_t>(s);
  return i < kSkipCount ? kNames[i].description : "unknown";
}

}  // namespace qs
