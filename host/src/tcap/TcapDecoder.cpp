// ITU TCAP message decoding (ITU-T Q.773) over the BER reader.
//
// Damage handling: the message and its component portion are read leniently,
// so that a length running past the end or a missing end-of-contents still
// lets the complete components before the damage through (marked damaged). A
// component is taken whole or not at all: the first component that cannot be
// read ends the portion.
#include "TcapTags.hpp"
#include "px/asn1/BerReader.hpp"
#include "px/tcap/Tcap.hpp"

namespace {

using px::ber::BerHeader;
using px::ber::BerReader;
using Class = PXASN1TagClass;
namespace tags = px::tcap;

// The small readers marked always_inline run once or twice per message, and a
// call costs about as much as their work: inlined, decode+screen of an
// MO-ForwardSM takes some 90 instructions less (scripts/instructions.sh).

std::optional<PXTCAP_MessageType> messageTypeOf(std::uint32_t tagNumber) {
  switch (tagNumber) {
    case tags::kUnidirectional:
      return PXTCAP_MessageType::unidirectional;
    case tags::kBegin:
      return PXTCAP_MessageType::begin;
    case tags::kEnd:
      return PXTCAP_MessageType::end;
    case tags::kContinue:
      return PXTCAP_MessageType::continue_;
    case tags::kAbort:
      return PXTCAP_MessageType::abort;
    default:
      return std::nullopt;
  }
}

std::optional<PXTCAP_ComponentKind> componentKindOf(std::uint32_t tagNumber) {
  switch (tagNumber) {
    case tags::kInvoke:
      return PXTCAP_ComponentKind::invoke;
    case tags::kReturnResultLast:
      return PXTCAP_ComponentKind::returnResultLast;
    case tags::kReturnError:
      return PXTCAP_ComponentKind::returnError;
    case tags::kReject:
      return PXTCAP_ComponentKind::reject;
    case tags::kReturnResultNotLast:
      return PXTCAP_ComponentKind::returnResultNotLast;
    default:
      return std::nullopt;
  }
}

// The contents of the constructed element whose header `h` starts `bytes`. A
// definite length beyond the input, or an indefinite element without its end,
// gives everything after the header and sets `damaged`.
[[gnu::always_inline]] inline std::span<const std::uint8_t> lenientContents(
    std::span<const std::uint8_t> bytes, const BerHeader& h, bool& damaged) {
  const auto after = bytes.subspan(h.headerLength);
  if (!h.indefinite) {
    if (h.contentLength <= after.size()) return after.first(h.contentLength);
    damaged = true;
    return after;
  }
  std::size_t consumed = 0;
  if (const auto whole = px::ber::readElement(bytes, consumed)) return whole->contents();
  damaged = true;
  return after;
}

bool isUniversalPrimitive(const PXASN1Object& o, std::uint32_t number) {
  return o.is(Class::universal, false, number);
}

// Operation or error code: local (INTEGER) or global (OBJECT IDENTIFIER, by
// its last arc). Sets `global`; nullopt when it is neither or is malformed.
[[gnu::always_inline]] inline std::optional<std::int64_t> decodeCode(const PXASN1Object& o,
                                                                     bool& global) {
  if (isUniversalPrimitive(o, tags::kInteger)) {
    global = false;
    return px::ber::decodeInteger(o.contents());
  }
  if (isUniversalPrimitive(o, tags::kObjectIdentifier)) {
    global = true;
    return px::ber::objectIdentifierLastArc(o.contents());
  }
  return std::nullopt;
}

bool setOperationCode(const PXASN1Object& o, PXTCAP_itu_asn1_componentPDU& c) {
  bool global = false;
  const auto code = decodeCode(o, global);
  if (!code) return false;
  if (global)
    c.setGlobalOperationCode(*code);
  else
    c.setLocalOperationCode(*code);
  return true;
}

// The invoke ID that starts every component but a reject: an INTEGER.
[[gnu::always_inline]] inline bool readInvokeId(BerReader& r, PXTCAP_itu_asn1_componentPDU& c) {
  PXASN1Object o;
  if (!r.next(o) || !isUniversalPrimitive(o, tags::kInteger)) return false;
  const auto id = px::ber::decodeInteger(o.contents());
  if (!id) return false;
  c.setInvokeId(id);
  return true;
}

// The optional parameter at the end of a component; the elements after it are
// not read.
[[gnu::always_inline]] inline bool readParameter(BerReader& r, PXTCAP_itu_asn1_componentPDU& c) {
  PXASN1Object parameter;
  if (r.next(parameter)) c.setParams(parameter);
  return !r.damaged();
}

// Q.773 table 12: Invoke ::= [1] SEQUENCE { invokeID, linkedID [0] OPTIONAL,
// operationCode, parameter ANY OPTIONAL }.
bool decodeInvoke(BerReader& r, PXTCAP_itu_asn1_componentPDU& c) {
  if (!readInvokeId(r, c)) return false;
  PXASN1Object e;
  if (!r.next(e)) return false;
  if (e.is(Class::contextSpecific, false, tags::kLinkedIdPresent)) {
    const auto linked = px::ber::decodeInteger(e.contents());
    if (!linked) return false;
    c.setLinkedId(linked);
    if (!r.next(e)) return false;
  } else if (e.is(Class::contextSpecific, false, tags::kLinkedIdAbsent)) {
    if (!r.next(e)) return false;
  }
  if (!setOperationCode(e, c)) return false;
  return readParameter(r, c);
}

// ReturnResult ::= SEQUENCE { invokeID, result SEQUENCE { operationCode,
// parameter } OPTIONAL }. The parameter is taken as optional, as stacks omit it.
bool decodeReturnResult(BerReader& r, PXTCAP_itu_asn1_componentPDU& c) {
  if (!readInvokeId(r, c)) return false;
  PXASN1Object result;
  if (!r.next(result)) return !r.damaged();
  if (!result.is(Class::universal, true, tags::kSequence)) return false;
  BerReader inner(result.contents());
  PXASN1Object code;
  if (!inner.next(code) || !setOperationCode(code, c)) return false;
  return readParameter(inner, c);
}

// ReturnError ::= SEQUENCE { invokeID, errorCode, parameter ANY OPTIONAL }.
bool decodeReturnError(BerReader& r, PXTCAP_itu_asn1_componentPDU& c) {
  if (!readInvokeId(r, c)) return false;
  PXASN1Object e;
  if (!r.next(e)) return false;
  bool global = false;
  const auto code = decodeCode(e, global);
  if (!code) return false;
  c.setErrorCode(*code, global);
  return readParameter(r, c);
}

// Reject ::= SEQUENCE { invokeID CHOICE { derivable INTEGER, not-derivable
// NULL }, problem CHOICE { [0] ... [3] IMPLICIT INTEGER } }.
bool decodeReject(BerReader& r, PXTCAP_itu_asn1_componentPDU& c) {
  PXASN1Object id;
  if (!r.next(id)) return false;
  if (isUniversalPrimitive(id, tags::kInteger)) {
    const auto v = px::ber::decodeInteger(id.contents());
    if (!v) return false;
    c.setInvokeId(v);
  } else if (!isUniversalPrimitive(id, tags::kNull)) {
    return false;
  }
  PXASN1Object problem;
  return r.next(problem) && problem.tagClass() == Class::contextSpecific &&
         !problem.isConstructed() && problem.tagNumber() <= tags::kLastProblemTag &&
         px::ber::decodeInteger(problem.contents()).has_value();
}

bool decodeComponentBody(const PXASN1Object& o, PXTCAP_ComponentKind kind,
                         PXTCAP_itu_asn1_componentPDU& c) {
  BerReader r(o.contents());
  switch (kind) {
    case PXTCAP_ComponentKind::invoke:
      return decodeInvoke(r, c);
    case PXTCAP_ComponentKind::returnResultLast:
    case PXTCAP_ComponentKind::returnResultNotLast:
      return decodeReturnResult(r, c);
    case PXTCAP_ComponentKind::returnError:
      return decodeReturnError(r, c);
    case PXTCAP_ComponentKind::reject:
      return decodeReject(r, c);
  }
  return false;
}

// The component `o` as the next one of `portion`; false (and nothing added)
// when it cannot be read.
bool decodeComponent(const PXASN1Object& o, PXTCAP_itu_asn1_componentPortion& portion) {
  if (o.tagClass() != Class::contextSpecific || !o.isConstructed()) return false;
  const auto kind = componentKindOf(o.tagNumber());
  if (!kind) return false;
  // Decoded in place; the vector keeps its capacity from message to message.
  PXTCAP_itu_asn1_componentPDU& c = portion.addNew(*kind);
  if (decodeComponentBody(o, *kind, c)) return true;
  portion.removeLast();
  return false;
}

// Components in order until the end of the portion or the first one that
// cannot be read; returns false at damage.
bool decodeComponents(std::span<const std::uint8_t> contents,
                      PXTCAP_itu_asn1_componentPortion& portion) {
  BerReader r(contents);
  PXASN1Object element;
  while (r.next(element)) {
    if (!decodeComponent(element, portion)) return false;
  }
  return !r.damaged();
}

// The transaction ID `number` ([APPLICATION 8] or [9], primitive) at the start
// of `rest`, which moves past it.
[[gnu::always_inline]] inline std::optional<std::span<const std::uint8_t>> readTransactionId(
    std::span<const std::uint8_t>& rest, std::uint32_t number) {
  std::size_t consumed = 0;
  const auto e = px::ber::readElement(rest, consumed);
  if (!e || !e->is(Class::application, false, number)) return std::nullopt;
  rest = rest.subspan(consumed);
  return e->contents();
}

}  // namespace

bool PXTCAP_itu_asn1_message::decode(std::span<const std::uint8_t> bytes) {
  clear();
  const auto h = px::ber::readHeader(bytes);
  if (!h || h->tagClass != Class::application || !h->constructed) return false;
  const auto type = messageTypeOf(h->tagNumber);
  if (!type) return false;

  bool damaged = false;
  auto rest = lenientContents(bytes, *h, damaged);

  // Q.773 4.2.1: the transaction IDs each message type must carry, in order.
  // Without them the message cannot be a valid one of its type.
  const bool hasOtid = *type == PXTCAP_MessageType::begin || *type == PXTCAP_MessageType::continue_;
  const bool hasDtid = *type == PXTCAP_MessageType::end || *type == PXTCAP_MessageType::continue_ ||
                       *type == PXTCAP_MessageType::abort;
  std::optional<std::span<const std::uint8_t>> otid, dtid;
  if (hasOtid && !(otid = readTransactionId(rest, tags::kOriginatingTransactionId))) return false;
  if (hasDtid && !(dtid = readTransactionId(rest, tags::kDestinationTransactionId))) return false;

  _type = *type;
  _otid = otid;
  _dtid = dtid;

  // The abort cause (P-abort or a dialogue portion) is not read.
  if (*type != PXTCAP_MessageType::abort) {
    // The dialogue portion, and any element this decoder does not know, is
    // stepped over; the first component portion is decoded and ends the message.
    while (!rest.empty()) {
      const auto eh = px::ber::readHeader(rest);
      if (!eh) {
        damaged = true;
        break;
      }
      if (eh->tagClass == Class::application && eh->constructed &&
          eh->tagNumber == tags::kComponentPortion) {
        bool portionDamaged = false;
        const auto contents = lenientContents(rest, *eh, portionDamaged);
        auto& portion = mutableComponentPortion();
        if (!decodeComponents(contents, portion)) portionDamaged = true;
        portion.setDamaged(portionDamaged);
        damaged = damaged || portionDamaged;
        break;
      }
      std::size_t consumed = 0;
      if (!px::ber::readElement(rest, consumed)) {
        damaged = true;
        break;
      }
      rest = rest.subspan(consumed);
    }
  }
  _damaged = damaged;
  return true;
}
