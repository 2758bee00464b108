// Small builders for screening tests: packets made directly, without bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "px/sccp/SccpPacket.hpp"

namespace qeltest {

struct Address {
  std::int32_t nai = 4;
  std::int32_t npi = 1;
  std::optional<std::int32_t> tt = 0;
  std::optional<std::string> digits = std::nullopt;
};

inline void fill(SccpAddress& a, const Address& spec) {
  a.setNai(spec.nai).setNpi(spec.npi);
  if (spec.tt) a.setTt(*spec.tt);
  if (spec.digits) a.setAddress(*spec.digits);
}

inline PXSCCP_Packet packet(std::optional<Address> calling, std::optional<Address> called) {
  PXSCCP_Packet p;
  if (calling) fill(p.mutableCallingPartyAddress(), *calling);
  if (called) fill(p.mutableCalledPartyAddress(), *called);
  return p;
}

// TBCD bytes of an IMSI, filler F for an odd count.
inline std::vector<std::uint8_t> tbcd(const std::string& digits) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const std::uint8_t lo = static_cast<std::uint8_t>(digits[i] - '0');
    const std::uint8_t hi =
        i + 1 < digits.size() ? static_cast<std::uint8_t>(digits[i + 1] - '0') : 0x0F;
    out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return out;
}

// The BER of a ForwardSM argument: SEQUENCE { sm-RP-DA, sm-RP-OA, sm-RP-UI }.
// daTag is 0x80 (imsi), 0x81 (lmsi), 0x84 (service centre) or 0x85 (none).
inline std::vector<std::uint8_t> forwardSmArgument(std::uint8_t daTag, const std::string& imsi) {
  std::vector<std::uint8_t> da = daTag == 0x80   ? tbcd(imsi)
                                 : daTag == 0x85 ? std::vector<std::uint8_t>{}
                                                 : std::vector<std::uint8_t>{0x91, 0x44, 0x77};
  std::vector<std::uint8_t> body{daTag, static_cast<std::uint8_t>(da.size())};
  body.insert(body.end(), da.begin(), da.end());
  const std::uint8_t oa[] = {0x84, 0x04, 0x91, 0x44, 0x97, 0x00};  // serviceCentreAddressOA
  body.insert(body.end(), std::begin(oa), std::end(oa));
  const std::uint8_t ui[] = {0x04, 0x03, 0x01, 0x02, 0x03};  // sm-RP-UI
  body.insert(body.end(), std::begin(ui), std::end(ui));
  std::vector<std::uint8_t> out{0x30, static_cast<std::uint8_t>(body.size())};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// Keeps the bytes that the components' parameters view.
struct Begin {
  std::vector<std::vector<std::uint8_t>> storage;

  static PXASN1Object asSequence(const std::vector<std::uint8_t>& ber) {
    return PXASN1Object(PXASN1TagClass::universal, true, 16,
                        std::span<const std::uint8_t>(ber).subspan(2));
  }

  void addInvoke(PXSCCP_Packet& p, std::int64_t code, bool global = false) {
    p.mutableTcap().mutableComponentPortion().add(
        PXTCAP_itu_asn1_componentPDU::invoke(code, global));
  }
  void addForwardSM(PXSCCP_Packet& p, std::int64_t code, std::uint8_t daTag,
                    const std::string& imsi) {
    storage.reserve(16);  // parameters view these vectors: no reallocation
    storage.push_back(forwardSmArgument(daTag, imsi));
    p.mutableTcap().mutableComponentPortion().add(
        PXTCAP_itu_asn1_componentPDU::invoke(code, false, asSequence(storage.back())));
  }
};

}  // namespace qeltest
