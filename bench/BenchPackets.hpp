// Messages and rule sets shared by the benchmarks and the instruction probe.
//
// Numbers follow examples/screening.toml: a roaming partner's node (GT 2851...)
// sends to one of our nodes (GT 28979...) about one of our subscribers (IMSI
// 00101...), so the same message is permitted under the example configuration
// and under the worst-case lists below.
#pragma once

#include <string>
#include <vector>

#include "QelScreeningSCCP.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace qelbench {

inline PXListRef prefixList(int n, const std::string& last) {
  PXList l;
  for (int i = 0; i + 1 < n; ++i) l.emplace_back(std::to_string(100000 + i));
  l.emplace_back(last);
  return std::make_shared<const PXList>(std::move(l));
}

inline PXListRef codeList(std::initializer_list<int> codes) {
  PXList l;
  for (int c : codes) l.emplace_back(c);
  return std::make_shared<const PXList>(std::move(l));
}

// The worst case of the linear scans: every list has `listLength` entries (10
// for the TT and operation lists), each allowed list hits only on its last
// entry and each denied list is scanned to the end without a hit.
// bench/data/worst-case.toml holds the same rules for the plug-in module.
inline void configureAddressRules(QelScreeningSCCP& f, int listLength = 10) {
  f.setAllowedCallingSccpPrefixE164(prefixList(listLength, "2851"));
  f.setDeniedCallingSccpPrefixE164(prefixList(listLength, "882"));
  f.setAllowedCalledSccpPrefixE164(prefixList(listLength, "28979"));
  f.setDeniedCalledSccpPrefixE164(prefixList(listLength, "2897900009"));
  f.setAllowedCalledSccpPrefixE214(prefixList(listLength, "28979"));
  f.setAllowedTT(codeList({1, 2, 3, 4, 5, 6, 7, 8, 9, 0}));
  f.setDeniedTT(codeList({11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
  f.setDefaultDenyCalling(1);
}

inline void configureWalkRules(QelScreeningSCCP& f) {
  f.setDeniedOP(codeList({2, 3, 7, 8, 9, 58, 67, 70, 71, 83}));
  f.setAllowedOP(codeList({44, 45, 56, 59, 60, 61, 62, 63, 64, 46}));
  f.setDeniedGOP(codeList({1}));
  f.setAllowedFSM_IMSI_PREFIX(prefixList(10, "00101"));
  f.setDeniedFSM_IMSI_PREFIX(prefixList(10, "001019"));
}

// The addresses of kMoForwardSmUdt, for packets built in memory.
inline void addresses(PXSCCP_Packet& p) {
  p.mutableCallingPartyAddress().setNai(4).setNpi(1).setTt(0).setAddress("28511234567");
  p.mutableCalledPartyAddress().setNai(4).setNpi(1).setTt(0).setAddress("28979000001");
}

// The MO-ForwardSM argument of kMoForwardSmUdt: SEQUENCE { sm-RP-DA imsi [0]
// 001011234567890, sm-RP-OA serviceCentreAddressOA [4], sm-RP-UI }.
inline const std::vector<std::uint8_t> kMoForwardSmArgument = {
    0x30, 0x17, 0x80, 0x08, 0x00, 0x01, 0x11, 0x32, 0x54, 0x76, 0x98, 0xf0, 0x84,
    0x04, 0x91, 0x82, 0x97, 0x00, 0x04, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05};

// UDT, called and calling GT (GTI 4, E.164, international) with SSN 8, data:
// TCAP Begin { otid, component portion { invoke 1, mo-ForwardSM (46),
// kMoForwardSmArgument } }.
inline const std::vector<std::uint8_t> kMoForwardSmUdt = {
    0x09, 0x80, 0x03, 0x0e, 0x19,
    // called party: AI 0x12, SSN 8, TT 0, E.164/BCD odd, NAI 4, 28979000001
    0x0b, 0x12, 0x08, 0x00, 0x11, 0x04, 0x82, 0x79, 0x09, 0x00, 0x00, 0x01,
    // calling party: 28511234567
    0x0b, 0x12, 0x08, 0x00, 0x11, 0x04, 0x82, 0x15, 0x21, 0x43, 0x65, 0x07,
    // data
    0x2b, 0x62, 0x29, 0x48, 0x04, 0x01, 0x02, 0x03, 0x04, 0x6c, 0x21, 0xa1, 0x1f, 0x02, 0x01, 0x01,
    0x02, 0x01, 0x2e, 0x30, 0x17, 0x80, 0x08, 0x00, 0x01, 0x11, 0x32, 0x54, 0x76, 0x98, 0xf0, 0x84,
    0x04, 0x91, 0x82, 0x97, 0x00, 0x04, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05};

// Offset of the operation code octet in kMoForwardSmUdt.
inline constexpr std::size_t kOperationCodeOffset = 47;

// kMoForwardSmUdt with another local operation code (same argument bytes).
inline std::vector<std::uint8_t> withOperation(std::uint8_t code) {
  auto m = kMoForwardSmUdt;
  m[kOperationCodeOffset] = code;
  return m;
}

}  // namespace qelbench
