// Packets and rule sets shared by the benchmarks.
#pragma once

#include <string>
#include <vector>

#include "QelScreeningSCCP.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace qelbench {

inline PXListRef prefixList(int n, const std::string& hit) {
  PXList l;
  for (int i = 0; i + 1 < n; ++i) l.emplace_back(std::to_string(100000 + i));
  l.emplace_back(hit);
  return std::make_shared<const PXList>(std::move(l));
}

inline PXListRef codeList(std::initializer_list<int> codes) {
  PXList l;
  for (int c : codes) l.emplace_back(c);
  return std::make_shared<const PXList>(std::move(l));
}

// Ten-entry address and TT lists, the hits (where any) last.
inline void configureAddressRules(QelScreeningSCCP& f, int listLength = 10) {
  f.setAllowedCallingSccpPrefixE164(prefixList(listLength, "4179"));
  f.setDeniedCallingSccpPrefixE164(prefixList(listLength, "8820"));
  f.setAllowedCalledSccpPrefixE164(prefixList(listLength, "4179"));
  f.setDeniedCalledSccpPrefixE164(prefixList(listLength, "8821"));
  f.setAllowedCalledSccpPrefixE214(prefixList(listLength, "22801"));
  f.setAllowedTT(codeList({1, 2, 3, 4, 5, 6, 7, 8, 9, 0}));
  f.setDeniedTT(codeList({11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
  f.setDefaultDenyCalling(1);
}

inline void configureWalkRules(QelScreeningSCCP& f) {
  f.setDeniedOP(codeList({2, 3, 7, 8, 9, 58, 67, 70, 71, 83}));
  f.setAllowedOP(codeList({44, 45, 46, 56, 59, 60, 61, 62, 63, 64}));
  f.setDeniedGOP(codeList({1}));
  f.setAllowedFSM_IMSI_PREFIX(prefixList(10, "22801"));
  f.setDeniedFSM_IMSI_PREFIX(prefixList(10, "22899"));
}

inline void addresses(PXSCCP_Packet& p) {
  p.mutableCallingPartyAddress().setNai(4).setNpi(1).setTt(0).setAddress("41794999001");
  p.mutableCalledPartyAddress().setNai(4).setNpi(1).setTt(0).setAddress("41794999002");
}

// UDT, called and calling GT (GTI 4, E.164, international) with SSN 8, data:
// TCAP Begin { otid, component portion { invoke 1, mo-ForwardSM (46),
// SEQUENCE { imsi [0] 228011234567890, serviceCentreAddressOA [4], sm-RP-UI } } }
inline const std::vector<std::uint8_t> kMoForwardSmUdt = {
    0x09, 0x80, 0x03, 0x0e, 0x19,
    // called party: AI 0x12, SSN 8, TT 0, E.164/BCD odd, NAI 4, 41794999002
    0x0b, 0x12, 0x08, 0x00, 0x11, 0x04, 0x14, 0x97, 0x94, 0x99, 0x00, 0x02,
    // calling party: 41794999001
    0x0b, 0x12, 0x08, 0x00, 0x11, 0x04, 0x14, 0x97, 0x94, 0x99, 0x00, 0x01,
    // data
    0x2b, 0x62, 0x29, 0x48, 0x04, 0x01, 0x02, 0x03, 0x04, 0x6c, 0x21, 0xa1, 0x1f, 0x02, 0x01, 0x01,
    0x02, 0x01, 0x2e, 0x30, 0x17, 0x80, 0x08, 0x22, 0x08, 0x11, 0x32, 0x54, 0x76, 0x98, 0xf0, 0x84,
    0x04, 0x91, 0x44, 0x97, 0x00, 0x04, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05};

}  // namespace qelbench
