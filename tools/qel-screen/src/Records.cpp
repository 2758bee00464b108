#include "Records.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <iterator>

#include "px/Value.hpp"
#include "px/map/ForwardSM.hpp"

namespace qs {

namespace {

// 3GPP TS 29.002 17.5: mt-ForwardSM and mo-ForwardSM (forwardSM in v1/v2).
constexpr std::int64_t kOpMtForwardSm = 44;
constexpr std::int64_t kOpMoForwardSm = 46;

auto out_it(std::string& out) {
  return std::back_inserter(out);
}

// The per-record paths append with these rather than with format strings:
// they run once per message, and parsing a format costs more than the rest.
void appendInt(std::string& out, std::int64_t v) {
  char b[24];
  auto r = std::to_chars(b, b + sizeof b, v);
  out.append(b, r.ptr);
}
void appendPadded(std::string& out, std::string_view s, std::size_t width) {
  out += s;
  if (s.size() < width) out.append(width - s.size(), ' ');
}
void appendRight(std::string& out, std::string_view s, std::size_t width) {
  if (s.size() < width) out.append(width - s.size(), ' ');
  out += s;
}
void appendIntRight(std::string& out, std::int64_t v, std::size_t width) {
  char b[24];
  auto r = std::to_chars(b, b + sizeof b, v);
  appendRight(out, std::string_view(b, static_cast<std::size_t>(r.ptr - b)), width);
}

void appendNullableString(std::string& out, std::optional<std::string_view> s) {
  if (s)
    appendJsonString(out, *s);
  else
    out += "null";
}

template <class T>
void appendNullableInt(std::string& out, std::optional<T> v) {
  if (v)
    appendInt(out, *v);
  else
    out += "null";
}

std::optional<std::int32_t> calledTt(const PXSCCP_Packet* p) {
  const SccpAddress* a = p ? p->incomingCalledPartyAddress() : nullptr;
  if (!a || !a->tt()) return std::nullopt;
  return a->tt()->tt();
}

std::optional<std::string_view> digits(const SccpAddress* a) {
  return a ? a->address() : std::nullopt;
}

const PXTCAP_itu_asn1_componentPortion* portion(const PXSCCP_Packet* p) {
  const PXTCAP_itu_asn1_message* t = p ? p->tcapMessage() : nullptr;
  return t ? t->componentPortion() : nullptr;
}

// The IMSI that screening would read: that of the last ForwardSM component.
std::optional<std::string_view> lastImsi(const PXSCCP_Packet* p, ImsiText& storage) {
  std::optional<std::string_view> imsi;
  if (const auto* cp = portion(p)) {
    for (const auto& c : cp->arrayOfComponents()) {
      if (c.operationCode() == kOpMtForwardSm || c.operationCode() == kOpMoForwardSm)
        imsi = forwardSmImsi(c, storage);
    }
  }
  return imsi;
}

std::string_view shortVerdict(std::int32_t v) {
  switch (v) {
    case PXSccpScreening_explicitlyPermitted:
      return "eP";
    case PXSccpScreening_implicitlyPermitted:
      return "iP";
    case PXSccpScreening_explicitlyDenied:
      return "eD";
    case PXSccpScreening_implicitlyDenied:
      return "iD";
    case PXSccpScreening_undefined:
      return "-";
    default:
      return "?";
  }
}

std::string_view colourOf(std::int32_t v) {
  if (v > 0) return "\x1b[32m";  // green
  if (v < 0) return "\x1b[31m";  // red
  return "\x1b[33m";             // yellow
}
constexpr std::string_view kColourUndecodable = "\x1b[35m";
constexpr std::string_view kColourReset = "\x1b[0m";
constexpr std::size_t kVerdictWidth = 19;  // "explicitlyPermitted"

std::string_view tcapShort(const PXSCCP_Packet* p) {
  const PXTCAP_itu_asn1_message* t = p ? p->tcapMessage() : nullptr;
  if (!t) return "-";
  switch (t->messageType()) {
    case PXTCAP_MessageType::begin:
      return "begin";
    case PXTCAP_MessageType::continue_:
      return "cont";
    case PXTCAP_MessageType::end:
      return "end";
    case PXTCAP_MessageType::abort:
      return "abort";
    case PXTCAP_MessageType::unidirectional:
      return "uni";
  }
  return "?";
}

void appendVerdictPair(std::string& out, std::string_view key, std::int32_t allowed,
                       std::int32_t denied, std::int32_t result) {
  fmt::format_to(out_it(out), "\"{}\":{{\"allowed\":\"{}\",\"denied\":\"{}\",\"result\":\"{}\"}}",
                 key, verdictName(allowed), verdictName(denied), verdictName(result));
}

void appendExplainJson(std::string& out, const PXSccpScreeningTrace& t) {
  fmt::format_to(out_it(out), ",\"explain\":{{\"decided_by\":\"{}\",", deciderName(t.decidedBy));
  appendVerdictPair(out, "calling", t.calling_allowed, t.calling_denied, t.calling_result);
  out += ',';
  appendVerdictPair(out, "called", t.called_allowed, t.called_denied, t.called_result);
  out += ',';
  appendVerdictPair(out, "tt", t.tt_allowed, t.tt_denied, t.tt_result);
  fmt::format_to(out_it(out), ",\"op\":{{\"allowed\":\"{}\",\"result\":\"{}\"}},",
                 verdictName(t.op_allowed), verdictName(t.op_result));
  appendVerdictPair(out, "fsm", t.fsm_allowed, t.fsm_denied, t.fsm_result);
  fmt::format_to(out_it(out), ",\"walked\":{},\"denied_operation\":", t.walked);
  if (t.deniedComponent >= 0)
    fmt::format_to(out_it(out), "{{\"component\":{},\"code\":{},\"global\":{}}}}}",
                   t.deniedComponent, t.deniedOperationCode, t.deniedGlobal);
  else
    out += "null}";
}

// One word per dimension: its result when the combination reached it, else
// the list that matched (deny first), else "-".
std::int32_t partial(std::int32_t allowed, std::int32_t denied, std::int32_t result) {
  if (result != PXSccpScreening_undefined) return result;
  if (denied != PXSccpScreening_undefined) return denied;
  return allowed;
}

void appendExplainText(std::string& out, const PXSccpScreeningTrace& t) {
  if (t.decidedBy == PXScreeningDecider::operation) {
    fmt::format_to(out_it(out), "  by operation {}{} (component {})",
                   t.deniedGlobal ? "global " : "", t.deniedOperationCode, t.deniedComponent);
    return;
  }
  fmt::format_to(out_it(out), "  by {}: calling={} called={} tt={} op={} fsm={}",
                 deciderName(t.decidedBy),
                 shortVerdict(partial(t.calling_allowed, t.calling_denied, t.calling_result)),
                 shortVerdict(partial(t.called_allowed, t.called_denied, t.called_result)),
                 shortVerdict(partial(t.tt_allowed, t.tt_denied, t.tt_result)),
                 shortVerdict(partial(t.op_allowed, PXSccpScreening_undefined, t.op_result)),
                 shortVerdict(partial(t.fsm_allowed, t.fsm_denied, t.fsm_result)));
}

void appendAddressJson(std::string& out, const SccpAddress* a) {
  if (!a) {
    out += "null";
    return;
  }
  fmt::format_to(out_it(out), "{{\"ri\":\"{}\",\"gti\":{},\"pc\":",
                 a->routingIndicator() == SccpRoutingIndicator::globalTitle ? "gt" : "ssn",
                 a->globalTitleIndicator());
  appendNullableInt(out, a->pointCode());
  out += ",\"ssn\":";
  appendNullableInt(out, a->subsystemNumber());
  out += ",\"tt\":";
  appendNullableInt(out, a->tt() ? std::optional<std::int32_t>(a->tt()->tt()) : std::nullopt);
  out += ",\"npi\":";
  appendNullableInt(out, a->npi() ? std::optional<std::int32_t>(a->npi()->npi()) : std::nullopt);
  out += ",\"nai\":";
  appendNullableInt(out, a->nai() ? std::optional<std::int32_t>(a->nai()->nai()) : std::nullopt);
  out += ",\"digits\":";
  appendNullableString(out, a->address());
  out += '}';
}

void appendAddressText(std::string& out, const SccpAddress* a) {
  if (!a) {
    out += "none";
    return;
  }
  fmt::format_to(out_it(out), "RI={},GTI={}",
                 a->routingIndicator() == SccpRoutingIndicator::globalTitle ? "gt" : "ssn",
                 a->globalTitleIndicator());
  if (auto pc = a->pointCode()) fmt::format_to(out_it(out), ",PC={}", *pc);
  if (auto ssn = a->subsystemNumber()) fmt::format_to(out_it(out), ",SSN={}", *ssn);
  if (a->tt()) fmt::format_to(out_it(out), ",TT={}", a->tt()->tt());
  if (a->npi()) fmt::format_to(out_it(out), ",NP={}", a->npi()->npi());
  if (a->nai()) fmt::format_to(out_it(out), ",NAI={}", a->nai()->nai());
  if (auto d = a->address()) fmt::format_to(out_it(out), ",GT={}", *d);
}

}  // namespace

void ImsiText::set(std::optional<std::string_view> digits) {
  _present = digits.has_value();
  _length = 0;
  if (!digits) return;
  _length = static_cast<std::uint8_t>(std::min(digits->size(), _digits.size()));
  std::copy_n(digits->begin(), _length, _digits.begin());
}

std::optional<std::string_view> forwardSmImsi(const PXTCAP_itu_asn1_componentPDU& c,
                                              ImsiText& storage) {
  std::optional<std::string_view> digits;
  if (c.operationCode() == kOpMoForwardSm) {
    if (auto arg = PXGSMMAP_MO_ForwardSM_Arg::initWithASN1Object(c.params(), nullptr))
      if (const PXGSMMAP_IMSI* imsi = arg->sm_RP_DA()->imsi()) digits = imsi->imsiValue();
    storage.set(digits);
  } else if (c.operationCode() == kOpMtForwardSm) {
    if (auto arg = PXGSMMAP_MT_ForwardSM_Arg::initWithASN1Object(c.params(), nullptr))
      if (const PXGSMMAP_IMSI* imsi = arg->sm_RP_DA()->imsi()) digits = imsi->imsiValue();
    storage.set(digits);
  } else {
    return std::nullopt;
  }
  return storage.get();
}

std::string_view messageTypeText(const MessageView& m) {
  if (m.sua) return "CLDT";
  if (!m.packet) return "?";
  switch (m.packet->messageType()) {
    case SccpMessageType::udt:
      return "UDT";
    case SccpMessageType::udts:
      return "UDTS";
    case SccpMessageType::xudt:
      return "XUDT";
    case SccpMessageType::xudts:
      return "XUDTS";
    case SccpMessageType::ludt:
      return "LUDT";
    case SccpMessageType::ludts:
      return "LUDTS";
  }
  return "?";
}

void appendFileHeading(std::string& out, std::string_view file) {
  fmt::format_to(out_it(out), "== {}\n", file);
}

static void appendFramePrefix(std::string& out, const MessageView& m) {
  out += '{';
  if (m.file) {
    out += "\"file\":";
    appendJsonString(out, *m.file);
    out += ',';
  }
  out += "\"frame\":";
  appendInt(out, static_cast<std::int64_t>(m.frame));
  out += ",\"index\":";
  appendInt(out, m.index);
}

void appendScreenJson(std::string& out, const MessageView& m, const Verdict& v) {
  appendFramePrefix(out, m);
  if (v.screened) {
    out += ",\"verdict\":\"";
    out += verdictName(v.code);
    out += "\",\"code\":";
    appendInt(out, v.code);
  } else
    out += ",\"verdict\":null,\"code\":null";
  if (m.error) {
    out += ",\"error\":";
    appendJsonString(out, *m.error);
  }
  const PXSCCP_Packet* p = m.packet;
  out += ",\"calling_digits\":";
  appendNullableString(out, digits(p ? p->incomingCallingPartyAddress() : nullptr));
  out += ",\"called_digits\":";
  appendNullableString(out, digits(p ? p->incomingCalledPartyAddress() : nullptr));
  out += ",\"tt\":";
  appendNullableInt(out, calledTt(p));
  out += ",\"tcap\":";
  if (p && p->tcapMessage()) {
    out += '"';
    out += messageTypeName(p->tcapMessage()->messageType());
    out += '"';
  } else
    out += "null";
  // Local and global operation codes, in component order.
  for (bool global : {false, true}) {
    out += global ? "],\"global_operations\":[" : ",\"operations\":[";
    bool first = true;
    if (const auto* cp = portion(p))
      for (const auto& c : cp->arrayOfComponents())
        if (global ? c.hasGlobalOperationCode() : c.hasLocalOperationCode()) {
          if (!first) out += ',';
          appendInt(out, c.operationCode());
          first = false;
        }
  }
  out += "],\"imsi\":";
  ImsiText imsi;
  appendNullableString(out, lastImsi(p, imsi));
  if (v.trace && v.screened) appendExplainJson(out, *v.trace);
  out += "}\n";
}

void appendScreenTextHeader(std::string& out, bool explain) {
  fmt::format_to(out_it(out), "{:>7} {:>2}  {:<16} {:<16} {:>3}  {:<5}  {:<12} {:<16} {}\n",
                 "FRAME", "#", "CALLING", "CALLED", "TT", "TCAP", "OPERATIONS", "IMSI",
                 explain ? "VERDICT              WHY" : "VERDICT");
}

void appendScreenText(std::string& out, const MessageView& m, const Verdict& v, bool colour) {
  const PXSCCP_Packet* p = m.packet;
  appendIntRight(out, static_cast<std::int64_t>(m.frame), 7);
  out += ' ';
  appendIntRight(out, m.index, 2);
  out += "  ";
  appendPadded(out, digits(p ? p->incomingCallingPartyAddress() : nullptr).value_or("-"), 16);
  out += ' ';
  appendPadded(out, digits(p ? p->incomingCalledPartyAddress() : nullptr).value_or("-"), 16);
  out += ' ';
  if (auto tt = calledTt(p))
    appendIntRight(out, *tt, 3);
  else
    out += "  -";
  out += "  ";
  appendPadded(out, tcapShort(p), 5);
  out += "  ";
  std::size_t opsStart = out.size();
  if (const auto* cp = portion(p))
    for (const auto& c : cp->arrayOfComponents()) {
      if (!c.hasLocalOperationCode() && !c.hasGlobalOperationCode()) continue;
      if (out.size() > opsStart) out += ',';
      if (c.hasGlobalOperationCode()) out += 'g';
      appendInt(out, c.operationCode());
    }
  if (out.size() == opsStart) out += '-';
  if (out.size() - opsStart < 12) out.append(12 - (out.size() - opsStart), ' ');
  out += ' ';
  ImsiText imsiStorage;
  appendPadded(out, lastImsi(p, imsiStorage).value_or("-"), 16);
  out += ' ';
  if (!v.screened) {
    if (colour) out += kColourUndecodable;
    fmt::format_to(out_it(out), "undecodable ({})", m.error.value_or("?"));
    if (colour) out += kColourReset;
  } else {
    if (colour) out += colourOf(v.code);
    std::string_view name = verdictName(v.code);
    out += name;
    if (colour) out += kColourReset;
    if (m.error) fmt::format_to(out_it(out), " (undecodable: {})", *m.error);
    // Line the explanations up behind the longest verdict name.
    if (v.trace && !m.error && name.size() < kVerdictWidth)
      out.append(kVerdictWidth - name.size(), ' ');
    if (v.trace) appendExplainText(out, *v.trace);
  }
  out += '\n';
}

void appendDecodeJson(std::string& out, const MessageView& m) {
  appendFramePrefix(out, m);
  const PXSCCP_Packet* p = m.packet;
  out += ",\"type\":";
  if (p)
    fmt::format_to(out_it(out), "\"{}\"", messageTypeText(m));
  else
    out += "null";
  out += ",\"calling\":";
  appendAddressJson(out, p ? p->incomingCallingPartyAddress() : nullptr);
  out += ",\"called\":";
  appendAddressJson(out, p ? p->incomingCalledPartyAddress() : nullptr);
  out += ",\"tcap\":";
  const PXTCAP_itu_asn1_message* t = p ? p->tcapMessage() : nullptr;
  if (!t) {
    out += "null";
  } else {
    fmt::format_to(out_it(out), "{{\"type\":\"{}\",\"components\":[",
                   messageTypeName(t->messageType()));
    bool first = true;
    ImsiText storage;
    if (const auto* cp = t->componentPortion())
      for (const auto& c : cp->arrayOfComponents()) {
        bool hasCode = c.hasLocalOperationCode() || c.hasGlobalOperationCode();
        fmt::format_to(out_it(out), "{}{{\"kind\":\"{}\",\"opcode\":", first ? "" : ",",
                       componentKindName(c.kind()));
        first = false;
        appendNullableInt(out, hasCode ? std::optional(c.operationCode()) : std::nullopt);
        fmt::format_to(out_it(out),
                       ",\"local\":{},\"global\":{},\"imsi\":", c.hasLocalOperationCode(),
                       c.hasGlobalOperationCode());
        appendNullableString(out, forwardSmImsi(c, storage));
        out += '}';
      }
    out += "]}";
  }
  if (m.error) {
    out += ",\"error\":";
    appendJsonString(out, *m.error);
  }
  out += "}\n";
}

void appendDecodeText(std::string& out, const MessageView& m) {
  const PXSCCP_Packet* p = m.packet;
  fmt::format_to(out_it(out), "{}.{} {}", m.frame, m.index, p ? messageTypeText(m) : "?");
  if (p) {
    out += " calling=";
    appendAddressText(out, p->incomingCallingPartyAddress());
    out += " called=";
    appendAddressText(out, p->incomingCalledPartyAddress());
    out += " tcap=";
    const PXTCAP_itu_asn1_message* t = p->tcapMessage();
    if (!t) {
      out += "none";
    } else {
      fmt::format_to(out_it(out), "{}[", messageTypeName(t->messageType()));
      bool first = true;
      ImsiText storage;
      if (const auto* cp = t->componentPortion())
        for (const auto& c : cp->arrayOfComponents()) {
          fmt::format_to(out_it(out), "{}{}", first ? "" : " ", componentKindName(c.kind()));
          first = false;
          if (c.hasLocalOperationCode() || c.hasGlobalOperationCode()) {
            fmt::format_to(out_it(out), "({}{}", c.hasGlobalOperationCode() ? "global " : "",
                           c.operationCode());
            if (auto imsi = forwardSmImsi(c, storage))
              fmt::format_to(out_it(out), ",imsi={}", *imsi);
            out += ')';
          }
        }
      out += ']';
    }
  }
  if (m.error) fmt::format_to(out_it(out), " error={}", *m.error);
  out += '\n';
}

}  // namespace qs
