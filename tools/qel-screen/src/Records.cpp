#include "Records.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>

#include "OneLine.hpp"
#include "OperationNames.hpp"
#include "px/EnumNames.hpp"
#include "px/map/ForwardSM.hpp"

// What the writers keep from one record to the next (frame number, time,
// route texts), one copy per writing thread. The initial-exec model, because
// the library is built position-independent: its default model calls into
// the loader for every access, and the compiler saves registers around each
// call even where the linker turns it into a plain load. (The tool and its
// tests link this library; a module loaded with dlopen must not.)
#define QS_RECORD_STATE [[gnu::tls_model("initial-exec")]] thread_local

namespace qs {

using px::SccpMessageType;
using px::SccpRoutingIndicator;

namespace {

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

std::string_view shortVerdict(std::int32_t v) {
  static constexpr px::EnumName<std::int32_t> kNames[] = {
      {PXSccpScreening_explicitlyPermitted, "eP"},
      {PXSccpScreening_implicitlyPermitted, "iP"},
      {PXSccpScreening_explicitlyDenied, "eD"},
      {PXSccpScreening_implicitlyDenied, "iD"},
      {PXSccpScreening_undefined, "-"},
  };
  return px::enumName(v, kNames, "?");
}

std::string_view colourOf(std::int32_t v) {
  if (v > 0) return "\x1b[32m";  // green
  if (v < 0) return "\x1b[31m";  // red
  return "\x1b[33m";             // yellow
}
constexpr std::string_view kColourUndecodable = "\x1b[35m";
constexpr std::string_view kColourReset = "\x1b[0m";
// Where each column of the screen table starts; a wider cell pushes only as
// far as the next column's slack, then one space.
constexpr std::size_t kColIndex = 8;
constexpr std::size_t kColCalling = 12;
constexpr std::size_t kColCalled = 29;
constexpr std::size_t kColTt = 46;
constexpr std::size_t kColTcap = 51;
constexpr std::size_t kColImsi = 58;
constexpr std::size_t kColVerdict = 75;
// The operations and the explanation come last: only they grow without bound.
constexpr std::size_t kColOperations = 96;
constexpr std::size_t kColWhy = 133;  // room for one code and the longest name

char* toColumn(const char* line, char* w, std::size_t column) {
  const auto at = static_cast<std::size_t>(w - line);
  return at < column ? put::spaces(w, column - at) : put::character(w, ' ');
}

std::string_view tcapShort(const PXSCCP_Packet* p) {
  const PXTCAP_itu_asn1_message* t = p ? p->tcapMessage() : nullptr;
  if (!t) return "-";
  static constexpr px::EnumName<PXTCAP_MessageType> kNames[] = {
      {PXTCAP_MessageType::begin, "begin"},
      {PXTCAP_MessageType::continue_, "cont"},
      {PXTCAP_MessageType::end, "end"},
      {PXTCAP_MessageType::abort, "abort"},
      {PXTCAP_MessageType::unidirectional, "uni"},
  };
  // By type, so that a record looks its name up rather than searching for it.
  static constexpr auto kByType = [] {
    std::array<std::string_view, static_cast<std::size_t>(PXTCAP_MessageType::abort) + 1> n{};
    for (std::size_t i = 0; i < n.size(); ++i)
      n[i] = px::enumName(static_cast<PXTCAP_MessageType>(i), kNames, "?");
    return n;
  }();
  const auto i = static_cast<std::size_t>(t->messageType());
  return i < kByType.size() ? kByType[i] : "?";
}

// px::verdictName, looked up rather than searched for with the verdicts
// screening gives.
std::string_view verdictText(std::int32_t code) {
  constexpr std::int32_t kLowest = -2, kHighest = 2;
  static constexpr auto kUsual = [] {
    std::array<std::string_view, kHighest - kLowest + 1> n{};
    for (std::int32_t c = kLowest; c <= kHighest; ++c)
      n[static_cast<std::size_t>(c - kLowest)] = px::verdictName(c);
    return n;
  }();
  if (code >= kLowest && code <= kHighest) return kUsual[static_cast<std::size_t>(code - kLowest)];
  return px::verdictName(code);
}

char* nullableString(char* w, std::optional<std::string_view> s) {
  return s ? put::jsonString(w, *s) : put::literal(w, "null");
}

// An address's digits as a JSON string, or null. Digits a decoder wrote are
// BCD characters, which JSON never escapes: they are copied as they are.
inline char* digitsJson(char* w, const SccpAddress* a) {
  const auto d = digits(a);
  if (!d) return put::literal(w, "null");
  if (!a->digitsFromBcd()) [[unlikely]]
    return put::jsonString(w, *d);
  w = put::character(w, '"');
  return put::character(put::text(w, *d), '"');
}

template <class T>
char* nullableInteger(char* w, std::optional<T> v) {
  return v ? put::integer(w, *v) : put::literal(w, "null");
}

// The texts of the local operation codes below kNamedCodes (every code MAP
// names), written once: a record copies them instead of formatting the code
// and looking up its name.
struct OperationTexts {
  put::FixedText<8> code;       // 71
  put::FixedText<48> nameJson;  // "71":"anyTimeInterrogation",  (empty for a code without a name)
  put::FixedText<48> nameText;  // 71 anyTimeInterrogation  (the code alone without a name)
  // The usual message has one component: the JSON from after "operations":[
  // to the end for a message whose only component has this local code.
  // 71],"global_operations":[],"operation_names":{"71":"anyTimeInterrogation"}
  put::FixedText<96> aloneJson;
};
constexpr std::int64_t kNamedCodes = 128;

// Built as the program starts (the names live in another file); no record is
// written before main.
const auto kOperationTexts = [] {
  std::array<OperationTexts, kNamedCodes> t;
  for (std::int64_t code = 0; code < kNamedCodes; ++code) {
    char digits[put::kMaxInteger];
    const std::string_view number(digits, put::integer(digits, code));
    OperationTexts& e = t[static_cast<std::size_t>(code)];
    e.code = {number};
    e.nameText = {number};
    e.aloneJson = {number, "],\"global_operations\":[]"};
    if (const auto name = mapOperationName(code)) {
      e.nameJson = {"\"", number, "\":\"", *name, "\","};
      e.nameText = {number, " ", *name};
      e.aloneJson = {e.aloneJson.view(), ",\"operation_names\":{\"", number, "\":\"", *name, "\"}"};
    }
  }
  return t;
}();

bool named(std::int64_t code) {
  return code >= 0 && code < kNamedCodes;
}

char* operationCode(char* w, std::int64_t code) {
  if (named(code)) return put::fixed(w, kOperationTexts[static_cast<std::size_t>(code)].code);
  return put::integer(w, code);
}

// "CODE":"NAME", when MAP names the local code.
char* operationNameJson(char* w, std::int64_t code) {
  if (named(code)) return put::fixed(w, kOperationTexts[static_cast<std::size_t>(code)].nameJson);
  // MAP names no other code; should it one day, the table grows with it.
  if (const auto name = mapOperationName(code)) {
    w = put::character(w, '"');
    w = put::integer(w, code);
    w = put::literal(w, "\":\"");
    w = put::text(w, *name);
    w = put::literal(w, "\",");
  }
  return w;
}

// CODE NAME, or CODE when MAP names no such local operation.
char* operationNameText(char* w, std::int64_t code) {
  if (named(code)) return put::fixed(w, kOperationTexts[static_cast<std::size_t>(code)].nameText);
  w = put::integer(w, code);
  if (const auto name = mapOperationName(code)) {
    w = put::character(w, ' ');
    w = put::text(w, *name);
  }
  return w;
}

// What a record may take beyond its texts of unbounded length (digits, IMSI,
// error, file name) and its components, counted with every integer as
// kMaxInteger and every name as the longest one; the counts come to about 290
// (screen text), 950 (screen JSON, 670 of them --explain), 410 (decode text)
// and 560 (decode JSON). The writers add the lengths of those texts (six
// times over where they are escaped for JSON) and a share per component.
constexpr std::size_t kScreenTextFixed = 512;
// ",g", the code, a space and the longest name.
constexpr std::size_t kScreenTextPerComponent = 3 + put::kMaxInteger + 40;
constexpr std::size_t kScreenJsonFixed = 1024 + kOriginJsonMax;
// The digits of both addresses, escaped at worst (a host may set any text):
// counted whole rather than measured for every record.
constexpr std::size_t kScreenJsonDigits = 2 * put::maxJsonString(SccpAddress::kMaxDigits);
// A code in either list: ',' and the code; its name: ,"CODE":"NAME".
constexpr std::size_t kScreenJsonPerComponent = 2 * (1 + put::kMaxInteger) + 48;
constexpr std::size_t kDecodeTextFixed = 512;
// " returnResultNotLast(global CODE,imsi=IMSI)"
constexpr std::size_t kDecodeTextPerComponent = 64 + ImsiText::kMaxDigits;
constexpr std::size_t kDecodeJsonFixed = 640 + kOriginJsonMax;
constexpr std::size_t kDecodeJsonPerComponent = 128 + put::maxJsonString(ImsiText::kMaxDigits);

std::size_t componentCount(const PXTCAP_itu_asn1_componentPortion* cp) {
  return cp ? cp->arrayOfComponents().size() : 0;
}

// Room for a record of at most `bound` bytes, and its end once written.
class RecordRoom {
 public:
  RecordRoom(OutputBuffer& out, std::size_t bound)
      : _out(out), _start(out.room(bound + put::kSlack)), _limit(_start + bound) {}
  char* start() const { return _start; }
  void commit(const char* end) { _out.commit(end, _limit); }

 private:
  OutputBuffer& _out;
  char* _start;
  const char* _limit;
};

char* verdictPair(char* w, std::string_view key, std::int32_t allowed, std::int32_t denied,
                  std::int32_t result) {
  w = put::character(w, '"');
  w = put::text(w, key);
  w = put::literal(w, "\":{\"allowed\":\"");
  w = put::text(w, px::verdictName(allowed));
  w = put::literal(w, "\",\"denied\":\"");
  w = put::text(w, px::verdictName(denied));
  w = put::literal(w, "\",\"result\":\"");
  w = put::text(w, px::verdictName(result));
  return put::literal(w, "\"}");
}

char* explainJson(char* w, const PXSccpScreeningTrace& t, bool tcapDamaged) {
  w = put::literal(w, ",\"explain\":{\"decided_by\":\"");
  w = put::text(w, px::deciderName(t.decidedBy));
  w = put::literal(w, "\",\"tcap_damaged\":");
  w = put::boolean(w, tcapDamaged);
  w = put::character(w, ',');
  w = verdictPair(w, "calling", t.callingAllowed, t.callingDenied, t.callingResult);
  w = put::character(w, ',');
  w = verdictPair(w, "called", t.calledAllowed, t.calledDenied, t.calledResult);
  w = put::character(w, ',');
  w = verdictPair(w, "tt", t.ttAllowed, t.ttDenied, t.ttResult);
  w = put::literal(w, ",\"op\":{\"allowed\":\"");
  w = put::text(w, px::verdictName(t.opAllowed));
  w = put::literal(w, "\",\"result\":\"");
  w = put::text(w, px::verdictName(t.opResult));
  w = put::literal(w, "\"},");
  w = verdictPair(w, "fsm", t.fsmAllowed, t.fsmDenied, t.fsmResult);
  w = put::literal(w, ",\"walked\":");
  w = put::boolean(w, t.walked);
  w = put::literal(w, ",\"denied_operation\":");
  if (t.deniedComponent < 0) return put::literal(w, "null}");
  w = put::literal(w, "{\"component\":");
  w = put::integer(w, t.deniedComponent);
  w = put::literal(w, ",\"code\":");
  w = put::integer(w, t.deniedOperationCode);
  w = put::literal(w, ",\"global\":");
  w = put::boolean(w, t.deniedGlobal);
  return put::literal(w, "}}");
}

// One word per dimension: its result when the combination reached it, else
// the list that matched (deny first), else "-".
std::int32_t partial(std::int32_t allowed, std::int32_t denied, std::int32_t result) {
  if (result != PXSccpScreening_undefined) return result;
  if (denied != PXSccpScreening_undefined) return denied;
  return allowed;
}

char* explainText(char* w, const PXSccpScreeningTrace& t, bool tcapDamaged) {
  // The verdict rests on the components that could be read.
  if (tcapDamaged) w = put::literal(w, "on damaged TCAP; ");
  if (t.decidedBy == PXScreeningDecider::deniedOperation) {
    w = put::literal(w, "by operation ");
    if (t.deniedGlobal) w = put::literal(w, "global ");
    w = put::integer(w, t.deniedOperationCode);
    w = put::literal(w, " (component ");
    w = put::integer(w, t.deniedComponent);
    return put::character(w, ')');
  }
  w = put::literal(w, "by ");
  if (t.verdict > 0) {
    // Every dimension that gave the permitting result, not only the first.
    const std::pair<std::string_view, std::int32_t> dims[] = {{"calling", t.callingResult},
                                                              {"called", t.calledResult},
                                                              {"tt", t.ttResult},
                                                              {"op", t.opResult},
                                                              {"fsm", t.fsmResult}};
    bool first = true;
    for (const auto& [name, result] : dims) {
      if (result != t.verdict) continue;
      if (!first) w = put::character(w, ',');
      w = put::text(w, name);
      first = false;
    }
    if (first) w = put::text(w, px::deciderName(t.decidedBy));
  } else {
    w = put::text(w, px::deciderName(t.decidedBy));
  }
  w = put::literal(w, ": calling=");
  w = put::text(w, shortVerdict(partial(t.callingAllowed, t.callingDenied, t.callingResult)));
  w = put::literal(w, " called=");
  w = put::text(w, shortVerdict(partial(t.calledAllowed, t.calledDenied, t.calledResult)));
  w = put::literal(w, " tt=");
  w = put::text(w, shortVerdict(partial(t.ttAllowed, t.ttDenied, t.ttResult)));
  w = put::literal(w, " op=");
  w = put::text(w, shortVerdict(partial(t.opAllowed, PXSccpScreening_undefined, t.opResult)));
  w = put::literal(w, " fsm=");
  return put::text(w, shortVerdict(partial(t.fsmAllowed, t.fsmDenied, t.fsmResult)));
}

std::string_view routingIndicatorText(const SccpAddress& a) {
  return a.routingIndicator() == SccpRoutingIndicator::globalTitle ? "gt" : "ssn";
}

std::size_t digitCount(const SccpAddress* a) {
  auto d = digits(a);
  return d ? d->size() : 0;
}

char* addressJson(char* w, const SccpAddress* a) {
  if (!a) return put::literal(w, "null");
  w = put::literal(w, "{\"ri\":\"");
  w = put::text(w, routingIndicatorText(*a));
  w = put::literal(w, "\",\"gti\":");
  w = put::integer(w, a->globalTitleIndicator());
  w = put::literal(w, ",\"pc\":");
  w = nullableInteger(w, a->pointCode());
  w = put::literal(w, ",\"ssn\":");
  w = nullableInteger(w, a->subsystemNumber());
  w = put::literal(w, ",\"tt\":");
  w = nullableInteger(w, a->tt() ? std::optional<std::int32_t>(a->tt()->tt()) : std::nullopt);
  w = put::literal(w, ",\"npi\":");
  w = nullableInteger(w, a->npi() ? std::optional<std::int32_t>(a->npi()->npi()) : std::nullopt);
  w = put::literal(w, ",\"nai\":");
  w = nullableInteger(w, a->nai() ? std::optional<std::int32_t>(a->nai()->nai()) : std::nullopt);
  w = put::literal(w, ",\"digits\":");
  w = digitsJson(w, a);
  return put::character(w, '}');
}

char* addressText(char* w, const SccpAddress* a) {
  if (!a) return put::literal(w, "none");
  w = put::literal(w, "RI=");
  w = put::text(w, routingIndicatorText(*a));
  w = put::literal(w, ",GTI=");
  w = put::integer(w, a->globalTitleIndicator());
  if (auto pc = a->pointCode()) {
    w = put::literal(w, ",PC=");
    w = put::integer(w, *pc);
  }
  if (auto ssn = a->subsystemNumber()) {
    w = put::literal(w, ",SSN=");
    w = put::integer(w, *ssn);
  }
  if (a->tt()) {
    w = put::literal(w, ",TT=");
    w = put::integer(w, a->tt()->tt());
  }
  if (a->npi()) {
    w = put::literal(w, ",NP=");
    w = put::integer(w, a->npi()->npi());
  }
  if (a->nai()) {
    w = put::literal(w, ",NAI=");
    w = put::integer(w, a->nai()->nai());
  }
  if (auto d = a->address()) {
    w = put::literal(w, ",GT=");
    w = put::text(w, *d);
  }
  return w;
}

std::size_t fileNameLength(const MessageView& m) {
  return m.file ? m.file->size() : 0;
}

// Adds one to the decimal number in [begin, end); false when it was all
// nines and needs one more digit.
bool incrementDecimal(char* begin, char* end) {
  for (char* d = end; d-- != begin;) {
    if (*d != '9') {
      ++*d;
      return true;
    }
    *d = '0';
  }
  return false;
}

// The digits of the frame number. Frames come in order, so the digits of the
// last frame are kept and counted up (nine times in ten only the last one
// changes) instead of the number being formatted for every record.
struct FrameDigits {
  std::uint64_t frame = 0;
  put::FixedText<24> digits;
  static_assert(put::kMaxInteger <= 24);

  [[gnu::noinline]] void set(std::uint64_t f) {
    char* const d = digits.bytes.data();
    digits.size = static_cast<std::uint8_t>(put::unsignedInteger(d, f) - d);
    frame = f;
  }
  bool countUp() {
    char* const d = digits.bytes.data();
    if (digits.size == 0 || frame + 1 == 0 || !incrementDecimal(d, d + digits.size)) return false;
    ++frame;
    return true;
  }
};
QS_RECORD_STATE FrameDigits lastFrame;

[[gnu::always_inline]] inline const put::FixedText<24>& frameDigits(std::uint64_t frame) {
  FrameDigits& f = lastFrame;
  if (frame != f.frame || f.digits.size == 0)
    if (frame != f.frame + 1 || !f.countUp()) f.set(frame);
  return f.digits;
}

char* fileJson(char* w, const std::string& file) {
  w = put::literal(w, "\"file\":");
  w = put::jsonString(w, file);
  return put::character(w, ',');
}

char* segmentJson(char* w, const MessageView& m) {
  if (m.segment) {
    w = put::literal(w, ",\"segment\":[");
    w = put::integer(w, m.segment);
    w = put::character(w, ',');
    w = m.segments ? put::integer(w, m.segments) : put::literal(w, "null");
    w = put::character(w, ']');
  }
  if (m.incomplete) w = put::literal(w, ",\"reassembly\":\"incomplete\"");
  return w;
}

[[gnu::always_inline]] inline char* framePrefix(char* w, const MessageView& m) {
  w = put::character(w, '{');
  if (m.file) w = fileJson(w, *m.file);
  w = put::literal(w, "\"frame\":");
  w = put::fixed(w, frameDigits(m.frame));
  w = put::literal(w, ",\"index\":");
  w = put::unsignedInteger(w, m.index);
  if (m.segment || m.incomplete) w = segmentJson(w, m);
  return w;
}

// Dotted quad, or RFC 5952 text (lower-case hex, the longest run of two or
// more zero groups as "::"), written by hand: libc's formatter costs more
// than the rest of a record.
char* ipText(char* w, std::uint8_t version, const std::array<std::uint8_t, 16>& a) {
  w = put::character(w, '"');
  if (version == 4) {
    for (int i = 0; i < 4; ++i) {
      if (i) w = put::character(w, '.');
      w = put::integer(w, a[static_cast<std::size_t>(i)]);
    }
    return put::character(w, '"');
  }
  std::array<unsigned, 8> g{};
  for (std::size_t i = 0; i < 8; ++i) g[i] = (unsigned{a[2 * i]} << 8) | a[2 * i + 1];
  int runAt = -1, runLength = 0;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && g[static_cast<std::size_t>(j)] == 0) ++j;
    if (j - i > runLength && j - i >= 2) runAt = i, runLength = j - i;
    i = j > i ? j : i + 1;
  }
  constexpr char kHex[] = "0123456789abcdef";
  // IPv4-compatible and -mapped addresses end in a dotted quad.
  const bool dottedTail = runAt == 0 && (runLength == 6 || (runLength == 5 && g[5] == 0xFFFF));
  for (int i = 0; i < 8; ++i) {
    if (i == 6 && dottedTail) {
      if (runLength == 5) w = put::character(w, ':');
      for (std::size_t k = 12; k < 16; ++k) {
        if (k > 12) w = put::character(w, '.');
        w = put::integer(w, a[k]);
      }
      break;
    }
    if (i == runAt) {
      w = put::literal(w, "::");
      i += runLength - 1;
      continue;
    }
    if (i && i != runAt + runLength) w = put::character(w, ':');
    const unsigned v = g[static_cast<std::size_t>(i)];
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned d = (v >> shift) & 0xF;
      if (d || started || shift == 0) {
        w = put::character(w, kHex[d]);
        started = true;
      }
    }
  }
  return put::character(w, '"');
}

// " (segment K/N)", " (segment K/N, incomplete)", " (incomplete)" or nothing.
char* segmentText(char* w, const MessageView& m) {
  if (!m.segment && !m.incomplete) return w;
  w = put::literal(w, " (");
  if (m.segment) {
    w = put::literal(w, "segment ");
    w = put::integer(w, m.segment);
    w = put::character(w, '/');
    w = put::integer(w, m.segments);
    if (m.incomplete) w = put::literal(w, ", ");
  }
  if (m.incomplete) w = put::literal(w, "incomplete");
  return put::character(w, ')');
}

}  // namespace

namespace {

// The routing part of an origin (everything but the time) as seven words:
// equal keys give equal texts, and two keys compare as seven words. The
// addresses and ports are taken as they are, also when the origin has no IP
// or SCTP and the text leaves them out: what an earlier message left there
// can only make a route take a second entry, never the wrong text.
struct RouteKey {
  // 0: OPC | DPC << 32 (0 when absent); 1: SPORT | DPORT << 16 | STREAM << 32 |
  // SI << 48 (0 when absent) | IP version << 56; 2: one byte each for the
  // presence of OPC, DPC and SI and for SCTP, and kFilled; 3-4: source
  // address; 5-6: destination address.
  std::array<std::uint64_t, 7> words{};
};
// Set in every key, so that an entry never filled (all zero) matches none.
constexpr std::uint64_t kFilled = std::uint64_t{1} << 32;

[[gnu::always_inline]] inline RouteKey routeKeyOf(const MessageOrigin& o) {
  RouteKey k;
  k.words[0] = o.opc.value_or(0) | std::uint64_t{o.dpc.value_or(0)} << 32;
  k.words[1] = o.sport | std::uint64_t{o.dport} << 16 | std::uint64_t{o.stream} << 32 |
               std::uint64_t{o.si.value_or(0)} << 48 | std::uint64_t{o.ipVersion} << 56;
  k.words[2] = std::uint64_t{o.opc.has_value()} | std::uint64_t{o.dpc.has_value()} << 8 |
               std::uint64_t{o.si.has_value()} << 16 | std::uint64_t{o.sctp} << 24 | kFilled;
  std::memcpy(&k.words[3], o.src.data(), 16);
  std::memcpy(&k.words[5], o.dst.data(), 16);
  return k;
}

[[gnu::always_inline]] inline bool sameRoute(const RouteKey& a, const RouteKey& b) {
  // Spelt out: the compiler keeps a loop over the words a loop.
  const auto& x = a.words;
  const auto& y = b.words;
  static_assert(std::tuple_size_v<decltype(RouteKey::words)> == 7);
  return ((x[0] ^ y[0]) | (x[1] ^ y[1]) | (x[2] ^ y[2]) | (x[3] ^ y[3]) | (x[4] ^ y[4]) |
          (x[5] ^ y[5]) | (x[6] ^ y[6])) == 0;
}

char* routeJson(char* w, const MessageOrigin& o) {
  w = put::literal(w, ",\"opc\":");
  w = o.opc ? put::unsignedInteger(w, *o.opc) : put::literal(w, "null");
  w = put::literal(w, ",\"dpc\":");
  w = o.dpc ? put::unsignedInteger(w, *o.dpc) : put::literal(w, "null");
  if (o.si) {
    w = put::literal(w, ",\"si\":");
    w = put::unsignedInteger(w, *o.si);
  }
  w = put::literal(w, ",\"src\":");
  w = o.ipVersion ? ipText(w, o.ipVersion, o.src) : put::literal(w, "null");
  w = put::literal(w, ",\"dst\":");
  w = o.ipVersion ? ipText(w, o.ipVersion, o.dst) : put::literal(w, "null");
  if (o.sctp) {
    w = put::literal(w, ",\"sport\":");
    w = put::unsignedInteger(w, o.sport);
    w = put::literal(w, ",\"dport\":");
    w = put::unsignedInteger(w, o.dport);
    w = put::literal(w, ",\"stream\":");
    w = put::unsignedInteger(w, o.stream);
  }
  return w;
}

// The longest route text: point codes, SI, two quoted IPv6 texts, ports.
constexpr std::size_t kRouteJsonMax = 2 * (7 + 10) + 6 + 3 + 2 * (7 + 47) + 9 + 5 + 9 + 5 + 10 + 5;
// The longest time: ,"time":-SECONDS.NANOSECONDS
constexpr std::size_t kTimeJsonMax = 8 + 1 + put::kMaxInteger + 1 + 9;
static_assert(kTimeJsonMax + kRouteJsonMax <= kOriginJsonMax);
// Route texts are copied whole: most (IPv4) in the first size, the rest in the second.
constexpr std::size_t kShortRouteJson = 128;
constexpr std::size_t kRouteJsonRoom = 208;
static_assert(kRouteJsonMax <= kRouteJsonRoom);
// originJson stores no further than it promises, whole copies included.
static_assert(kTimeJsonMax + kRouteJsonRoom <= kOriginJsonMax);

// A capture's messages come over few associations and links: the texts of
// their routes are kept, direct-mapped by a hash of the route, so that most
// records copy the text instead of writing nine keys.
struct RouteEntry {
  RouteKey key;
  put::FixedText<kRouteJsonRoom> text;
};
QS_RECORD_STATE std::array<RouteEntry, 64> routes;

// Takes the origin alone, not the key: a key held across the call would be
// kept in memory and read back on every record.
[[gnu::noinline]] void fillRoute(RouteEntry& e, const MessageOrigin& o) {
  e.key = routeKeyOf(o);
  e.text.size = static_cast<std::uint8_t>(routeJson(e.text.bytes.data(), o) - e.text.bytes.data());
}

[[gnu::always_inline]] inline char* cachedRouteJson(char* w, const MessageOrigin& o) {
  const RouteKey k = routeKeyOf(o);
  const auto& x = k.words;
  // Two multiplications mix every bit of the key into the top six; the
  // destination is rotated so that a route and its way back land apart.
  const std::uint64_t a = (x[0] ^ x[3] ^ std::rotl(x[5], 32)) * 0x9E3779B97F4A7C15ull;
  const std::uint64_t h = (a ^ x[1] ^ x[2] ^ x[4] ^ x[6]) * 0xBF58476D1CE4E5B9ull;
  RouteEntry& e = routes[h >> 58];
  if (!sameRoute(e.key, k)) fillRoute(e, o);
  if (e.text.size <= kShortRouteJson) {
    std::memcpy(w, e.text.bytes.data(), kShortRouteJson);
    return w + e.text.size;
  }
  return put::fixed(w, e.text);
}

// Capture time, seconds and the fraction as the capture records it (zeros
// kept), after the key. The key and the seconds change rarely: their text is kept.
[[gnu::always_inline]] inline char* timeJson(char* w, const MessageOrigin& o) {
  struct Seconds {
    std::int64_t value = 0;
    put::FixedText<32> text;  // ,"time":SECONDS.
  };
  static_assert(8 + put::kMaxInteger + 1 <= 32);
  QS_RECORD_STATE Seconds last;
  if (last.text.size == 0 || last.value != o.seconds) {
    char* const t = last.text.bytes.data();
    char* e = put::literal(t, ",\"time\":");
    e = put::character(put::integer(e, o.seconds), '.');
    last.value = o.seconds;
    last.text.size = static_cast<std::uint8_t>(e - t);
  }
  w = put::fixed(w, last.text);
  const auto* pairs = put::detail::kDigitPairs.data();
  if (!o.nanoPrecision) {
    // Microseconds: three pairs of digits. Only the last six digits of a
    // value out of range are written.
    const std::uint32_t us = o.nanoseconds / 1000;
    const std::uint32_t high = us / 10000, rest = us - high * 10000;
    const std::uint32_t middle = rest / 100, low = rest - middle * 100;
    std::memcpy(w, pairs + 2 * (high % 100), 2);
    std::memcpy(w + 2, pairs + 2 * middle, 2);
    std::memcpy(w + 4, pairs + 2 * low, 2);
    return w + 6;
  }
  std::uint32_t fraction = o.nanoseconds;
  char* const end = w + 9;
  char* at = end;
  for (int i = 0; i < 4; ++i, fraction /= 100) {
    at -= 2;
    std::memcpy(at, pairs + 2 * (fraction % 100), 2);
  }
  at[-1] = static_cast<char>('0' + fraction % 10);
  return end;
}

[[gnu::always_inline]] inline char* timeAndRouteJson(char* w, const MessageOrigin* o) {
  if (!o)
    return put::literal(w, ",\"time\":null,\"opc\":null,\"dpc\":null,\"src\":null,\"dst\":null");
  w = o->hasTime ? timeJson(w, *o) : put::literal(w, ",\"time\":null");
  return cachedRouteJson(w, *o);
}

}  // namespace

char* originJson(char* w, const MessageOrigin* o) {
  return timeAndRouteJson(w, o);
}

char* operationsText(char* w, const PXTCAP_itu_asn1_componentPortion* cp) {
  char* const start = w;
  if (cp)
    for (const auto& c : cp->arrayOfComponents()) {
      if (!c.hasLocalOperationCode() && !c.hasGlobalOperationCode()) continue;
      if (w != start) w = put::character(w, ',');
      if (c.hasGlobalOperationCode()) {
        w = put::character(w, 'g');
        w = put::integer(w, c.operationCode());
        continue;
      }
      w = operationNameText(w, c.operationCode());
    }
  if (w == start) w = put::character(w, '-');
  return w;
}

void ImsiText::set(std::optional<std::string_view> digits) {
  _present = digits.has_value();
  _length = 0;
  if (!digits) return;
  _length = static_cast<std::uint8_t>(std::min(digits->size(), _digits.size()));
  std::copy_n(digits->begin(), _length, _digits.begin());
}

std::optional<std::string_view> forwardSmImsi(const PXTCAP_itu_asn1_componentPDU& c,
                                              ImsiText& storage) {
  const bool forwardSm = px::withForwardSmArgument(
      c.operationCode(), [&]<class Argument>(std::type_identity<Argument>) {
        // The digits view the argument: copy them out while it is alive.
        std::optional<std::string_view> digits;
        const auto arg = Argument::initWithASN1Object(c.params(), nullptr);
        if (arg)
          if (const PXGSMMAP_IMSI* imsi = arg->sm_RP_DA()->imsi()) digits = imsi->imsiValue();
        storage.set(digits);
      });
  if (!forwardSm) return std::nullopt;
  return storage.get();
}

std::string whyText(const PXSccpScreeningTrace& t, bool tcapDamaged) {
  // Longest: "on damaged TCAP; " and the dimensions' line (every dimension
  // named, the longest partial verdicts), well under this.
  char buf[256];
  char* end = explainText(buf, t, tcapDamaged);
  return std::string(buf, end);
}

std::string_view messageTypeText(const MessageView& m) {
  if (m.sua) return "CLDT";
  if (!m.packet) return "?";
  static constexpr px::EnumName<SccpMessageType> kNames[] = {
      {SccpMessageType::udt, "UDT"},   {SccpMessageType::udts, "UDTS"},
      {SccpMessageType::xudt, "XUDT"}, {SccpMessageType::xudts, "XUDTS"},
      {SccpMessageType::ludt, "LUDT"}, {SccpMessageType::ludts, "LUDTS"},
  };
  return px::enumName(m.packet->messageType(), kNames, "?");
}

void appendFileHeading(OutputBuffer& out, std::string_view file) {
  out.append(fmt::format("== {}\n", oneLine(file)));
}

namespace {

// "verdict":...,"code":...
char* verdictJson(char* w, const Verdict& v) {
  if (!v.screened) return put::literal(w, "\"verdict\":null,\"code\":null");
  w = put::literal(w, "\"verdict\":\"");
  w = put::text(w, px::verdictName(v.code));
  w = put::literal(w, "\",\"code\":");
  return put::integer(w, v.code);
}

// The keys from "direction" to "code" of a record with one verdict, for the
// usual verdicts as one text each: by direction (none, inbound, outbound),
// then by verdict (none, then the codes -2 to 2).
constexpr std::int32_t kLowestUsualCode = -2, kHighestUsualCode = 2;
constexpr auto kDirectionAndVerdict = [] {
  constexpr std::string_view kDirections[] = {"", ",\"direction\":\"inbound\"",
                                              ",\"direction\":\"outbound\""};
  std::array<std::array<put::FixedText<72>, 2 + kHighestUsualCode - kLowestUsualCode>, 3> t{};
  for (std::size_t d = 0; d < t.size(); ++d) {
    t[d][0] = {kDirections[d], ",\"verdict\":null,\"code\":null"};
    for (std::int32_t code = kLowestUsualCode; code <= kHighestUsualCode; ++code) {
      // The code as a character (they are single digits).
      const char digit[] = {static_cast<char>('0' + (code < 0 ? -code : code)), 0};
      t[d][static_cast<std::size_t>(1 + code - kLowestUsualCode)] = {
          kDirections[d], ",\"verdict\":\"", px::verdictName(code),
          code < 0 ? "\",\"code\":-" : "\",\"code\":", std::string_view(digit, 1)};
    }
  }
  return t;
}();

char* directionAndVerdictJson(char* w, const MessageView& m, const Verdict& v) {
  const auto direction = static_cast<std::size_t>(m.direction);
  if (!v.before && direction < kDirectionAndVerdict.size()) {
    if (!v.screened) return put::fixed(w, kDirectionAndVerdict[direction][0]);
    if (v.code >= kLowestUsualCode && v.code <= kHighestUsualCode)
      return put::fixed(
          w,
          kDirectionAndVerdict[direction][static_cast<std::size_t>(1 + v.code - kLowestUsualCode)]);
  }
  if (m.direction != MessageView::Direction::none)
    w = m.direction == MessageView::Direction::outbound
            ? put::literal(w, ",\"direction\":\"outbound\"")
            : put::literal(w, ",\"direction\":\"inbound\"");
  if (!v.before) return verdictJson(put::character(w, ','), v);
  w = put::literal(w, ",\"old\":{");
  w = verdictJson(w, *v.before);
  w = put::literal(w, "},\"new\":{");
  return put::character(verdictJson(w, v), '}');
}

// The keys from "tcap" to the opening of "operations", by TCAP message type,
// with the type absent first.
const auto kTcapJson = [] {
  std::array<put::FixedText<48>, 1 + static_cast<std::size_t>(PXTCAP_MessageType::abort) + 1> t;
  t[0] = {",\"tcap\":null,\"operations\":["};
  for (std::size_t i = 1; i < t.size(); ++i)
    t[i] = {",\"tcap\":\"", px::messageTypeName(static_cast<PXTCAP_MessageType>(i - 1)),
            "\",\"operations\":["};
  return t;
}();

char* tcapJson(char* w, const PXTCAP_itu_asn1_message* t) {
  const std::size_t i = t ? 1 + static_cast<std::size_t>(t->messageType()) : 0;
  if (i < kTcapJson.size()) return put::fixed(w, kTcapJson[i]);
  w = put::literal(w, ",\"tcap\":\"");
  w = put::text(w, px::messageTypeName(t->messageType()));
  return put::literal(w, "\",\"operations\":[");
}

using Components = std::span<const PXTCAP_itu_asn1_componentPDU>;

Components componentsOf(const PXTCAP_itu_asn1_message* t) {
  const PXTCAP_itu_asn1_componentPortion* cp = t ? t->componentPortion() : nullptr;
  return cp ? cp->arrayOfComponents() : Components();
}

// "operations" (after its opening), "global_operations" and, when MAP names
// some local code, "operation_names".
char* operationsJson(char* w, Components components) {
  if (components.size() == 1) {
    const auto& c = components.front();
    if (c.hasLocalOperationCode() && !c.hasGlobalOperationCode() && named(c.operationCode()))
      return put::fixed(w, kOperationTexts[static_cast<std::size_t>(c.operationCode())].aloneJson);
  }
  // Each code is followed by a comma; the last comma is taken back.
  char* const locals = w;
  bool global = false;
  for (const auto& c : components) {
    global |= c.hasGlobalOperationCode();
    if (c.hasLocalOperationCode()) w = put::character(operationCode(w, c.operationCode()), ',');
  }
  w -= w != locals;
  w = put::literal(w, "],\"global_operations\":[");
  if (global) {
    char* const globals = w;
    for (const auto& c : components)
      if (c.hasGlobalOperationCode()) w = put::character(put::integer(w, c.operationCode()), ',');
    w -= w != globals;
  }
  w = put::character(w, ']');
  // Names of the local codes MAP assigns, each code once (JSON keys are
  // unique); each name is followed by a comma, and the last becomes the '}'.
  // The key is taken back when no code has a name.
  char* const key = w;
  w = put::literal(w, ",\"operation_names\":{");
  char* const names = w;
  for (std::size_t i = 0; i < components.size(); ++i) {
    const auto& c = components[i];
    if (!c.hasLocalOperationCode()) continue;
    const std::int64_t code = c.operationCode();
    bool seen = false;
    for (std::size_t j = 0; j < i; ++j)
      seen =
          seen || (components[j].hasLocalOperationCode() && components[j].operationCode() == code);
    if (seen) continue;
    w = operationNameJson(w, code);
  }
  if (w == names) return key;
  w[-1] = '}';
  return w;
}

}  // namespace

void appendScreenJson(OutputBuffer& out, const MessageView& m, const Verdict& v) {
  const PXSCCP_Packet* p = m.packet;
  const SccpAddress* calling = p ? p->incomingCallingPartyAddress() : nullptr;
  const SccpAddress* called = p ? p->incomingCalledPartyAddress() : nullptr;
  const PXTCAP_itu_asn1_message* t = p ? p->tcapMessage() : nullptr;
  const Components components = componentsOf(t);
  const std::optional<std::string_view> imsi = v.imsi;

  RecordRoom room(out, kScreenJsonFixed + kScreenJsonDigits +
                           put::maxJsonString(fileNameLength(m) + m.error.value_or("").size() +
                                              imsi.value_or("").size()) +
                           components.size() * kScreenJsonPerComponent);
  char* w = framePrefix(room.start(), m);
  w = directionAndVerdictJson(w, m, v);
  if (m.error) {
    w = put::literal(w, ",\"error\":");
    w = put::jsonString(w, *m.error);
  }
  w = timeAndRouteJson(w, m.origin);
  w = put::literal(w, ",\"calling_digits\":");
  w = digitsJson(w, calling);
  w = put::literal(w, ",\"called_digits\":");
  w = digitsJson(w, called);
  w = put::literal(w, ",\"tt\":");
  w = nullableInteger(w, calledTt(p));
  w = tcapJson(w, t);
  w = operationsJson(w, components);
  w = put::literal(w, ",\"imsi\":");
  w = imsi ? put::jsonDigitString(w, *imsi) : put::literal(w, "null");
  if (v.trace && v.screened) w = explainJson(w, *v.trace, m.tcapDamaged);
  room.commit(put::literal(w, "}\n"));
}

void appendScreenTextHeader(OutputBuffer& out, bool explain) {
  std::string h = fmt::format("{:>7}", "FRAME");
  auto at = [&](std::size_t column, std::string_view text) {
    h.append(h.size() < column ? column - h.size() : 1, ' ');
    h += text;
  };
  at(kColIndex, " #");
  at(kColCalling, "CALLING");
  at(kColCalled, "CALLED");
  at(kColTt, " TT");
  at(kColTcap, "TCAP");
  at(kColImsi, "IMSI");
  at(kColVerdict, "VERDICT");
  at(kColOperations, "OPERATIONS");
  if (explain) at(kColWhy, "WHY");
  h += '\n';
  out.append(h);
}

void appendScreenText(OutputBuffer& out, const MessageView& m, const Verdict& v, bool colour) {
  const PXSCCP_Packet* p = m.packet;
  std::string_view calling = digits(p ? p->incomingCallingPartyAddress() : nullptr).value_or("-");
  std::string_view called = digits(p ? p->incomingCalledPartyAddress() : nullptr).value_or("-");
  const PXTCAP_itu_asn1_componentPortion* cp = portion(p);
  std::string_view imsi = v.imsi.value_or("-");
  std::string_view error = m.error.value_or("?");

  // Column slack can add up to kColWhy spaces beyond the cells.
  RecordRoom room(out, kScreenTextFixed + kColWhy + calling.size() + called.size() + imsi.size() +
                           error.size() + componentCount(cp) * kScreenTextPerComponent);
  char* const line = room.start();
  const put::FixedText<24>& frame = frameDigits(m.frame);
  char* w = frame.size < 7 ? put::spaces(line, 7 - frame.size) : line;
  w = put::fixed(w, frame);
  w = toColumn(line, w, kColIndex);
  w = put::integerRight(w, m.index, 2);
  w = toColumn(line, w, kColCalling);
  w = put::text(w, calling);
  w = toColumn(line, w, kColCalled);
  w = put::text(w, called);
  w = toColumn(line, w, kColTt);
  if (auto tt = calledTt(p))
    w = put::integerRight(w, *tt, 3);
  else
    w = put::literal(w, "  -");
  w = toColumn(line, w, kColTcap);
  w = put::text(w, tcapShort(p));
  w = toColumn(line, w, kColImsi);
  w = put::text(w, imsi);
  w = toColumn(line, w, kColVerdict);
  // Colour codes take no room on the screen: columns count without them.
  std::size_t hidden = 0;
  auto coloured = [&](std::string_view c, std::string_view text) {
    if (colour) w = put::text(w, c), hidden += c.size() + kColourReset.size();
    w = put::text(w, text);
    if (colour) w = put::text(w, kColourReset);
  };
  if (m.direction == MessageView::Direction::outbound) {
    w = put::literal(w, "outbound");
  } else {
    if (v.before) {
      w = put::text(w, v.before->screened ? verdictText(v.before->code) : "-");
      w = put::literal(w, " -> ");
    }
    if (!v.screened)
      coloured(kColourUndecodable, "undecodable");
    else
      coloured(colourOf(v.code), verdictText(v.code));
  }
  w = toColumn(line + hidden, w, kColOperations);
  w = operationsText(w, cp);
  if (v.trace && v.screened) {
    w = toColumn(line + hidden, w, kColWhy);
    w = explainText(w, *v.trace, m.tcapDamaged);
  }
  // Notes close the line, where they push no column.
  if (m.error && m.direction != MessageView::Direction::outbound) {
    w = v.screened ? put::literal(w, " (undecodable: ") : put::literal(w, " (");
    w = put::text(w, error);
    w = put::character(w, ')');
  }
  if (m.segment || m.incomplete) w = segmentText(w, m);
  room.commit(put::character(w, '\n'));
}

void appendDecodeJson(OutputBuffer& out, const MessageView& m) {
  const PXSCCP_Packet* p = m.packet;
  const SccpAddress* calling = p ? p->incomingCallingPartyAddress() : nullptr;
  const SccpAddress* called = p ? p->incomingCalledPartyAddress() : nullptr;
  const PXTCAP_itu_asn1_message* t = p ? p->tcapMessage() : nullptr;
  const PXTCAP_itu_asn1_componentPortion* cp = t ? t->componentPortion() : nullptr;

  RecordRoom room(out, kDecodeJsonFixed +
                           put::maxJsonString(fileNameLength(m) + m.error.value_or("").size() +
                                              digitCount(calling) + digitCount(called)) +
                           componentCount(cp) * kDecodeJsonPerComponent);
  char* w = framePrefix(room.start(), m);
  w = put::literal(w, ",\"type\":");
  if (p) {
    w = put::character(w, '"');
    w = put::text(w, messageTypeText(m));
    w = put::character(w, '"');
  } else {
    w = put::literal(w, "null");
  }
  w = originJson(w, m.origin);
  w = put::literal(w, ",\"calling\":");
  w = addressJson(w, calling);
  w = put::literal(w, ",\"called\":");
  w = addressJson(w, called);
  w = put::literal(w, ",\"tcap\":");
  if (!t) {
    w = put::literal(w, "null");
  } else {
    w = put::literal(w, "{\"type\":\"");
    w = put::text(w, px::messageTypeName(t->messageType()));
    w = put::literal(w, "\",\"components\":[");
    bool first = true;
    ImsiText storage;
    if (cp)
      for (const auto& c : cp->arrayOfComponents()) {
        bool hasCode = c.hasLocalOperationCode() || c.hasGlobalOperationCode();
        w = first ? put::literal(w, "{\"kind\":\"") : put::literal(w, ",{\"kind\":\"");
        first = false;
        w = put::text(w, px::componentKindName(c.kind()));
        w = put::literal(w, "\",\"opcode\":");
        w = nullableInteger(w, hasCode ? std::optional(c.operationCode()) : std::nullopt);
        w = put::literal(w, ",\"local\":");
        w = put::boolean(w, c.hasLocalOperationCode());
        w = put::literal(w, ",\"global\":");
        w = put::boolean(w, c.hasGlobalOperationCode());
        w = put::literal(w, ",\"imsi\":");
        w = nullableString(w, forwardSmImsi(c, storage));
        w = put::character(w, '}');
      }
    w = put::literal(w, "]}");
  }
  if (m.error) {
    w = put::literal(w, ",\"error\":");
    w = put::jsonString(w, *m.error);
  }
  room.commit(put::literal(w, "}\n"));
}

void appendDecodeText(OutputBuffer& out, const MessageView& m) {
  const PXSCCP_Packet* p = m.packet;
  const SccpAddress* calling = p ? p->incomingCallingPartyAddress() : nullptr;
  const SccpAddress* called = p ? p->incomingCalledPartyAddress() : nullptr;
  const PXTCAP_itu_asn1_message* t = p ? p->tcapMessage() : nullptr;
  const PXTCAP_itu_asn1_componentPortion* cp = t ? t->componentPortion() : nullptr;

  RecordRoom room(out, kDecodeTextFixed + m.error.value_or("").size() + digitCount(calling) +
                           digitCount(called) + componentCount(cp) * kDecodeTextPerComponent);
  char* w = put::unsignedInteger(room.start(), m.frame);
  w = put::character(w, '.');
  w = put::integer(w, m.index);
  w = put::character(w, ' ');
  w = put::text(w, p ? messageTypeText(m) : "?");
  if (p) {
    w = put::literal(w, " calling=");
    w = addressText(w, calling);
    w = put::literal(w, " called=");
    w = addressText(w, called);
    w = put::literal(w, " tcap=");
    if (!t) {
      w = put::literal(w, "none");
    } else {
      w = put::text(w, px::messageTypeName(t->messageType()));
      w = put::character(w, '[');
      bool first = true;
      ImsiText storage;
      if (cp)
        for (const auto& c : cp->arrayOfComponents()) {
          if (!first) w = put::character(w, ' ');
          first = false;
          w = put::text(w, px::componentKindName(c.kind()));
          if (c.hasLocalOperationCode() || c.hasGlobalOperationCode()) {
            w = put::character(w, '(');
            if (c.hasGlobalOperationCode()) w = put::literal(w, "global ");
            w = put::integer(w, c.operationCode());
            if (auto imsi = forwardSmImsi(c, storage)) {
              w = put::literal(w, ",imsi=");
              w = put::text(w, *imsi);
            }
            w = put::character(w, ')');
          }
        }
      w = put::character(w, ']');
    }
  }
  if (m.error) {
    w = put::literal(w, " error=");
    w = put::text(w, *m.error);
  }
  w = segmentText(w, m);
  room.commit(put::character(w, '\n'));
}

}  // namespace qs
