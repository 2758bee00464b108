// ITU TCAP message decoding (ITU-T Q.773) over the BER reader.
//
// Damage handling: the message and its component portion are read leniently,
// so that a length running past the end or a missing end-of-contents still
// lets the complete components before the damage through (marked damaged). A
// component is taken whole or not at all; one whose fields cannot be read is
// skipped and the next one is read, since its own length says where that one
// starts. Only a component whose own tag or length is broken ends the portion.
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

// An INTEGER ID (invoke or linked) is a one-octet value in Q.773; one longer
// than kMaxIntegerOctets is oversized. It is noted on the portion and not
// stored with `set`, but the component keeps its other fields, because an
// operation code never depends on the ID before it. An empty INTEGER is
// unreadable: false.
using IdSetter = void (PXTCAP_itu_asn1_componentPDU::*)(std::optional<std::int64_t>);

[[gnu::always_inline]] inline bool readId(const PXASN1Object& o, PXTCAP_itu_asn1_componentPDU& c,
                                          IdSetter set,
                                          PXTCAP_itu_asn1_componentPortion& portion) {
  const auto contents = o.contents();
  if (contents.empty()) return false;
  if (contents.size() > px::ber::kMaxIntegerOctets) {
    portion.noteDamage(PXTCAP_Damage::oversizedId);
    return true;
  }
  (c.*set)(px::ber::decodeInteger(contents));
  return true;
}

// The invoke ID that starts every component but a reject: an INTEGER.
[[gnu::always_inline]] inline bool readInvokeId(BerReader& r, PXTCAP_itu_asn1_componentPDU& c,
                                                PXTCAP_itu_asn1_componentPortion& portion) {
  PXASN1Object o;
  if (!r.next(o) || !isUniversalPrimitive(o, tags::kInteger)) return false;
  return readId(o, c, &PXTCAP_itu_asn1_componentPDU::setInvokeId, portion);
}

// The optional parameter at the end of a component; the elements after it are
// not read. It is kept as an opaque view: a parameter that is not one sound
// element leaves the component without a parameter (and the portion damaged),
// never without the operation code read before it.
[[gnu::always_inline]] inline void readParameter(BerReader& r, PXTCAP_itu_asn1_componentPDU& c,
                                                 PXTCAP_itu_asn1_componentPortion& portion) {
  PXASN1Object parameter;
  if (r.next(parameter))
    c.setParams(parameter);
  else if (r.damaged())
    portion.noteDamage(PXTCAP_Damage::damagedParameter);
}

// Q.773 table 12: Invoke ::= [1] SEQUENCE { invokeID, linkedID [0] OPTIONAL,
// operationCode, parameter ANY OPTIONAL }.
bool decodeInvoke(BerReader& r, PXTCAP_itu_asn1_componentPDU& c,
                  PXTCAP_itu_asn1_componentPortion& portion) {
  if (!readInvokeId(r, c, portion)) return false;
  PXASN1Object e;
  if (!r.next(e)) return false;
  if (e.is(Class::contextSpecific, false, tags::kLinkedIdPresent)) {
    if (!readId(e, c, &PXTCAP_itu_asn1_componentPDU::setLinkedId, portion)) return false;
    if (!r.next(e)) return false;
  } else if (e.is(Class::contextSpecific, false, tags::kLinkedIdAbsent)) {
    if (!r.next(e)) return false;
  }
  if (!setOperationCode(e, c)) return false;
  readParameter(r, c, portion);
  return true;
}

// ReturnResult ::= SEQUENCE { invokeID, result SEQUENCE { operationCode,
// parameter } OPTIONAL }. The parameter is taken as optional, as stacks omit it.
bool decodeReturnResult(BerReader& r, PXTCAP_itu_asn1_componentPDU& c,
                        PXTCAP_itu_asn1_componentPortion& portion) {
  if (!readInvokeId(r, c, portion)) return false;
  PXASN1Object result;
  if (!r.next(result)) return !r.damaged();
  if (!result.is(Class::universal, true, tags::kSequence)) return false;
  BerReader inner(result.contents());
  PXASN1Object code;
  if (!inner.next(code) || !setOperationCode(code, c)) return false;
  readParameter(inner, c, portion);
  return true;
}

// ReturnError ::= SEQUENCE { invokeID, errorCode, parameter ANY OPTIONAL }.
bool decodeReturnError(BerReader& r, PXTCAP_itu_asn1_componentPDU& c,
                       PXTCAP_itu_asn1_componentPortion& portion) {
  if (!readInvokeId(r, c, portion)) return false;
  PXASN1Object e;
  if (!r.next(e)) return false;
  bool global = false;
  const auto code = decodeCode(e, global);
  if (!code) return false;
  c.setErrorCode(*code, global);
  readParameter(r, c, portion);
  return true;
}

// Reject ::= SEQUENCE { invokeID CHOICE { derivable INTEGER, not-derivable
// NULL }, problem CHOICE { [0] ... [3] IMPLICIT INTEGER } }.
bool decodeReject(BerReader& r, PXTCAP_itu_asn1_componentPDU& c,
                  PXTCAP_itu_asn1_componentPortion& portion) {
  PXASN1Object id;
  if (!r.next(id)) return false;
  if (isUniversalPrimitive(id, tags::kInteger)) {
    if (!readId(id, c, &PXTCAP_itu_asn1_componentPDU::setInvokeId, portion)) return false;
  } else if (!isUniversalPrimitive(id, tags::kNull)) {
    return false;
  }
  PXASN1Object problem;
  return r.next(problem) && problem.tagClass() == Class::contextSpecific &&
         !problem.isConstructed() && problem.tagNumber() <= tags::kLastProblemTag &&
         px::ber::decodeInteger(problem.contents()).has_value();
}

bool decodeComponentBody(const PXASN1Object& o, PXTCAP_ComponentKind kind,
                         PXTCAP_itu_asn1_componentPDU& c,
                         PXTCAP_itu_asn1_componentPortion& portion) {
  BerReader r(o.contents());
  switch (kind) {
    case PXTCAP_ComponentKind::invoke:
      return decodeInvoke(r, c, portion);
    case PXTCAP_ComponentKind::returnResultLast:
    case PXTCAP_ComponentKind::returnResultNotLast:
      return decodeReturnResult(r, c, portion);
    case PXTCAP_ComponentKind::returnError:
      return decodeReturnError(r, c, portion);
    case PXTCAP_ComponentKind::reject:
      return decodeReject(r, c, portion);
  }
  return false;
}

// The component `o`, whose own tag and length are sound, as the next one of
// `portion`. One that is not a component type, or whose fields cannot be read,
// is skipped whole (nothing added) and noted as damage.
void decodeComponent(const PXASN1Object& o, PXTCAP_itu_asn1_componentPortion& portion) {
  const auto kind = o.tagClass() == Class::contextSpecific && o.isConstructed()
                        ? componentKindOf(o.tagNumber())
                        : std::nullopt;
  if (!kind) {
    portion.noteDamage(PXTCAP_Damage::unknownComponent);
    return;
  }
  // Decoded in place; the vector keeps its capacity from message to message.
  PXTCAP_itu_asn1_componentPDU& c = portion.addNew(*kind);
  if (decodeComponentBody(o, *kind, c, portion)) return;
  portion.removeLast();
  portion.noteDamage(PXTCAP_Damage::unreadableComponent);
}

// Components in order until the end of the portion. Damage inside a component
// skips that component only: each one's own tag and length say where the next
// begins. Only when those are broken is there no next one to find, and the
// portion ends there.
void decodeComponents(std::span<const std::uint8_t> contents,
                      PXTCAP_itu_asn1_componentPortion& portion) {
  BerReader r(contents);
  PXASN1Object element;
  while (r.next(element)) decodeComponent(element, portion);
  if (r.damaged()) portion.noteDamage(PXTCAP_Damage::componentFraming);
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

  bool cut = false;
  auto rest = lenientContents(bytes, *h, cut);

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
  if (cut) noteDamage(PXTCAP_Damage::messageLength);

  // The abort cause (P-abort or a dialogue portion) is not read.
  if (*type != PXTCAP_MessageType::abort) {
    // The dialogue portion, and any element this decoder does not know, is
    // stepped over; the first component portion is decoded and ends the message.
    while (!rest.empty()) {
      const auto eh = px::ber::readHeader(rest);
      if (!eh) {
        noteDamage(PXTCAP_Damage::elementBeforeComponents);
        break;
      }
      if (eh->tagClass == Class::application && eh->constructed &&
          eh->tagNumber == tags::kComponentPortion) {
        bool portionCut = false;
        const auto contents = lenientContents(rest, *eh, portionCut);
        auto& portion = mutableComponentPortion();
        if (portionCut) portion.noteDamage(PXTCAP_Damage::portionLength);
        decodeComponents(contents, portion);
        // The cut end of the message lies after whatever the portion found.
        if (portion.isDamaged()) {
          if (cut) _damage = PXTCAP_Damage::none;
          noteDamage(portion.damage());
        }
        break;
      }
      std::size_t consumed = 0;
      if (!px::ber::readElement(rest, consumed)) {
        noteDamage(PXTCAP_Damage::elementBeforeComponents);
        break;
      }
      rest = rest.subspan(consumed);
    }
  }
  return true;
}
