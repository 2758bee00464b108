// Helpers shared by the decoder tests: hex, the data files, and one-line dumps
// in the format of tools/tshark_expectations.py.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "px/map/ForwardSM.hpp"
#include "px/sccp/SccpAddress.hpp"
#include "px/tcap/Tcap.hpp"

namespace dectest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes hex(std::string_view text) {
  Bytes out;
  int high = -1;
  for (const char ch : text) {
    int v;
    if (ch >= '0' && ch <= '9')
      v = ch - '0';
    else if (ch >= 'a' && ch <= 'f')
      v = ch - 'a' + 10;
    else if (ch >= 'A' && ch <= 'F')
      v = ch - 'A' + 10;
    else
      continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  return out;
}

// Rows of a tab-separated data file, without its '#' comment lines.
inline std::vector<std::vector<std::string>> readTsv(const std::string& name) {
  std::ifstream in(std::string(QEL_TEST_DATA_DIR) + "/" + name);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> row;
    std::stringstream fields(line);
    std::string f;
    while (std::getline(fields, f, '\t')) row.push_back(f);
    rows.push_back(row);
  }
  return rows;
}

template <class T>
std::string orDash(const std::optional<T>& v) {
  return v ? std::to_string(*v) : "-";
}
template <class T, class Get>
std::string orDash(const T* p, Get get) {
  return p ? std::to_string((p->*get)()) : "-";
}

inline std::string dump(const SccpAddress* a) {
  if (!a) return "-";
  std::string s = "nat=" + std::to_string(a->nationalUse() ? 1 : 0);
  s += " ri=" + std::to_string(static_cast<int>(a->routingIndicator()));
  s += " gti=" + std::to_string(a->globalTitleIndicator());
  s += " pc=" + orDash(a->pointCode());
  s += " ssn=" + orDash(a->subsystemNumber());
  s += " tt=" + orDash(a->tt(), &SccpTranslationTableNumber::tt);
  s += " np=" + orDash(a->npi(), &SccpNumberPlanIndicator::npi);
  s += " es=" + orDash(a->encodingScheme());
  s += " nai=" + orDash(a->nai(), &SccpNatureOfAddressIndicator::nai);
  s += " digits=" + (a->address() ? std::string(*a->address()) : std::string("-"));
  return s;
}

inline std::string dump(const PXTCAP_itu_asn1_componentPDU& c) {
  std::string s(px::componentKindName(c.kind()));
  s += ":" + orDash(c.invokeId()) + ":";
  if (c.hasLocalOperationCode())
    s += "L" + std::to_string(c.operationCode());
  else if (c.hasGlobalOperationCode())
    s += "G" + std::to_string(c.operationCode());
  else if (c.errorCode())
    s += (c.hasGlobalErrorCode() ? "EG" : "E") + std::to_string(*c.errorCode());
  else
    s += "-";
  return s;
}

inline std::string dumpComponents(const PXTCAP_itu_asn1_message* m) {
  if (!m || !m->componentPortion() || m->componentPortion()->arrayOfComponents().empty())
    return "-";
  std::string s;
  for (const auto& c : m->componentPortion()->arrayOfComponents()) {
    if (!s.empty()) s += ";";
    s += dump(c);
  }
  return s;
}

inline std::string choiceName(PXGSMMAP_SM_RP_DA_Choice c) {
  switch (c) {
    case PXGSMMAP_SM_RP_DA_Choice::imsi:
      return "imsi";
    case PXGSMMAP_SM_RP_DA_Choice::lmsi:
      return "lmsi";
    case PXGSMMAP_SM_RP_DA_Choice::serviceCentreAddressDA:
      return "serviceCentreAddressDA";
    case PXGSMMAP_SM_RP_DA_Choice::noSM_RP_DA:
      return "noSM-RP-DA";
  }
  return "?";
}

// The SM-RP-DA of every component with operation code 44 or 46 that decodes
// as a ForwardSM argument, as the screening walk reads them.
inline std::string dumpForwardSM(const PXTCAP_itu_asn1_message* m) {
  if (!m || !m->componentPortion()) return "-";
  std::string s;
  for (const auto& c : m->componentPortion()->arrayOfComponents()) {
    if (!c.hasLocalOperationCode() && !c.hasGlobalOperationCode()) continue;
    std::optional<PXGSMMAP_SM_RP_DA> da;
    px::withForwardSmArgument(c.operationCode(), [&]<class Argument>(std::type_identity<Argument>) {
      if (auto a = Argument::initWithASN1Object(c.params(), nullptr)) da = *a->sm_RP_DA();
    });
    if (!da) continue;
    if (!s.empty()) s += ";";
    s += choiceName(da->choice());
    if (da->imsi()) s += ":" + std::string(*da->imsi()->imsiValue());
  }
  return s.empty() ? "-" : s;
}

// The concatenation of byte strings, for building messages from their parts.
inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace dectest
