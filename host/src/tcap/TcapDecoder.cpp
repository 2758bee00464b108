// ITU TCAP message decoding (ITU-T Q.773) over the BER reader.
//
// Damage handling: the message and its component portion are read leniently,
// so that a length running past the end or a missing end-of-contents still
// lets the complete components before the damage through (marked damaged). A
// component is taken whole or not at all; one whose fields cannot be read is
// skipped and the next one is read, since its own length says where that one
// starts. Only a component whose own tag or length is broken ends the portion.
#include <array>
#include <cstring>

#include "TcapTags.hpp"
#include "px/asn1/BerReader.hpp"
#include "px/tcap/Tcap.hpp"

namespace {

using px::ber::BerHeader;
using Class = PXASN1TagClass;
namespace tags = px::tcap;
using Bytes = std::span<const std::uint8_t>;

// The elements of a TCAP message are read with a reader of its own rather
// than px::ber::BerReader: it keeps a pair of pointers, and an element's tag
// as its identifier octet, so that the whole decoding stays in registers and a
// tag is checked with one comparison. Nearly every element has a one-octet tag
// and a short length and is read inline; every other form, and every error,
// goes to the shared reader (px::ber::detail::readElementAnyForm), which has
// the last word on what is sound BER.

// X.690 8.1.2: the identifier octet of a tag with a number below 31; one with
// a higher number keeps 0x1F in its low bits and so equals none of these.
constexpr std::uint8_t identifier(Class c, bool constructed, std::uint32_t number) {
  return static_cast<std::uint8_t>(static_cast<unsigned>(c) << 6 | (constructed ? 0x20u : 0u) |
                                   number);
}
constexpr std::uint8_t kIdInteger = identifier(Class::universal, false, tags::kInteger);
constexpr std::uint8_t kIdNull = identifier(Class::universal, false, tags::kNull);
constexpr std::uint8_t kIdObjectIdentifier =
    identifier(Class::universal, false, tags::kObjectIdentifier);
constexpr std::uint8_t kIdSequence = identifier(Class::universal, true, tags::kSequence);
constexpr std::uint8_t kIdLinkedIdPresent =
    identifier(Class::contextSpecific, false, tags::kLinkedIdPresent);
constexpr std::uint8_t kIdLinkedIdAbsent =
    identifier(Class::contextSpecific, false, tags::kLinkedIdAbsent);
constexpr std::uint8_t kIdOtid =
    identifier(Class::application, false, tags::kOriginatingTransactionId);
constexpr std::uint8_t kIdDtid =
    identifier(Class::application, false, tags::kDestinationTransactionId);
constexpr std::uint8_t kIdComponentPortion =
    identifier(Class::application, true, tags::kComponentPortion);
constexpr std::uint8_t kClassAndFormMask = 0xE0;
constexpr std::uint8_t kLowTagMask = 0x1F;

// One element: its tag (identifier octet, and the number for the rare tag
// beyond 30) and a view of its contents. Left uninitialised when declared:
// it is read only after a reader has filled it.
struct Element {
  const std::uint8_t* data;
  std::size_t length;
  std::uint32_t tagNumber;
  std::uint8_t id;
  bool indefinite;

  Bytes contents() const { return {data, length}; }
  PXASN1Object object() const {
    return PXASN1Object(static_cast<Class>(id >> 6), (id & 0x20) != 0, tagNumber, contents(),
                        indefinite);
  }
};

// X.690 8.1.2.2-8.1.2.4: the identifier octets that are a whole tag. 0x00
// starts an end-of-contents, and low bits 0x1F announce more tag octets.
constexpr auto kOneOctetTag = [] {
  std::array<bool, 256> t{};
  for (std::size_t id = 1; id < t.size(); ++id) t[id] = (id & kLowTagMask) != kLowTagMask;
  return t;
}();

// The length octet of a short form as a size. A long form (bit 8 set) is
// sign-extended to beyond any size, so one comparison with the octets left
// refuses it along with a length running past the end.
[[gnu::always_inline]] inline std::size_t shortLength(std::uint8_t octet) {
  return static_cast<std::size_t>(std::int64_t{static_cast<std::int8_t>(octet)});
}

// A one-octet tag and a short definite length that fits: the common case.
[[gnu::always_inline]] inline bool readShort(const std::uint8_t* p, const std::uint8_t* end,
                                             Element& e) {
  if (end - p < 2) return false;
  const std::uint8_t id = p[0];
  const std::size_t length = shortLength(p[1]);
  if (!kOneOctetTag[id] || length > static_cast<std::size_t>(end - p - 2)) return false;
  e.data = p + 2;
  e.length = length;
  e.tagNumber = id & kLowTagMask;
  e.id = id;
  e.indefinite = false;
  return true;
}

// Any other form, through the shared reader. Returned whole, so that the
// caller's element never has its address taken and stays in registers.
struct AnyFormRead {
  Element element;
  std::size_t consumed;
  bool sound;
};
[[gnu::noinline]] AnyFormRead readAnyForm(const std::uint8_t* p, const std::uint8_t* end) {
  const auto read = px::ber::detail::readElementAnyForm(Bytes(p, end));
  if (read.error != px::ber::BerError::none) return {{}, 0, false};
  const PXASN1Object& o = read.element;
  const Element e{o.contents().data(), o.contents().size(), o.tagNumber(),
                  identifier(o.tagClass(), o.isConstructed(),
                             o.tagNumber() < kLowTagMask ? o.tagNumber() : kLowTagMask),
                  o.isIndefiniteLength()};
  return {e, read.consumed, true};
}

// The elements of a run of octets one after the other, as BerReader::next
// gives them: after damage it yields nothing more.
class Reader {
 public:
  explicit Reader(Bytes bytes) : _p(bytes.data()), _end(bytes.data() + bytes.size()) {}

  [[gnu::always_inline]] bool next(Element& e) {
    if (readShort(_p, _end, e)) {
      _p = e.data + e.length;
      return true;
    }
    if (_p == _end) return false;  // the end, or damage before it
    const AnyFormRead read = readAnyForm(_p, _end);
    if (!read.sound) {
      _damaged = true;
      _p = _end;
      return false;
    }
    e = read.element;
    _p += read.consumed;
    return true;
  }
  // next(e) && e.id == id, for an element whose tag is known in advance: in
  // short form with the tag `id` it is read inline without looking the tag
  // up, and everything else goes through next().
  [[gnu::always_inline]] bool nextTagged(std::uint8_t id, Element& e) {
    if (_end - _p >= 2 && _p[0] == id) {
      const std::size_t length = shortLength(_p[1]);
      if (length <= static_cast<std::size_t>(_end - _p - 2)) {
        e.data = _p + 2;
        e.length = length;
        e.tagNumber = id & kLowTagMask;
        e.id = id;
        e.indefinite = false;
        _p = e.data + length;
        return true;
      }
    }
    return next(e) && e.id == id;
  }
  // An INTEGER of one octet with the tag `id`, as invoke IDs and local
  // operation codes nearly always are: three octets checked at once and its
  // value taken. False, with nothing consumed, for any other element, which
  // the caller then reads with next().
  [[gnu::always_inline]] bool oneOctetInteger(std::uint8_t id, std::int64_t& value) {
    if (_end - _p < 3) return false;
    // Tag and length compared as one 16-bit word, in memory order.
    const std::uint8_t header[2] = {id, 1};
    std::uint16_t expected, found;
    std::memcpy(&expected, header, sizeof expected);
    std::memcpy(&found, _p, sizeof found);
    if (found != expected) return false;
    value = static_cast<std::int8_t>(_p[2]);
    _p += 3;
    return true;
  }
  bool damaged() const { return _damaged; }
  // What is left after the elements read.
  Bytes rest() const { return {_p, _end}; }

 private:
  const std::uint8_t* _p;
  const std::uint8_t* _end;
  bool _damaged = false;
};

// Q.773 table 8: the message type of each [APPLICATION n] tag number below 31.
std::optional<PXTCAP_MessageType> messageTypeOf(std::uint8_t tagNumber) {
  static constexpr auto kTypes = [] {
    std::array<std::optional<PXTCAP_MessageType>, 32> t{};
    t[tags::kUnidirectional] = PXTCAP_MessageType::unidirectional;
    t[tags::kBegin] = PXTCAP_MessageType::begin;
    t[tags::kEnd] = PXTCAP_MessageType::end;
    t[tags::kContinue] = PXTCAP_MessageType::continue_;
    t[tags::kAbort] = PXTCAP_MessageType::abort;
    return t;
  }();
  return kTypes[tagNumber & kLowTagMask];
}

// The contents of the constructed element whose header `h` starts `bytes`. A
// definite length beyond the input, or an indefinite element without its end,
// gives everything after the header and sets `damaged`.
std::span<const std::uint8_t> lenientContents(std::span<const std::uint8_t> bytes,
                                              const BerHeader& h, bool& damaged) {
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

// The message or component portion header at the start of `bytes` in any
// form, or with a length running past the end, through readHeader and
// lenientContents: `id` as Element::id has it, and for a constructed element
// its contents (`cut` when they run past the end of `bytes`). Returned whole,
// so that the caller's variables never have their address taken.
struct HeaderRead {
  Bytes contents;
  std::uint8_t id = 0;
  bool sound = false;
  bool cut = false;
};
[[gnu::noinline]] HeaderRead readHeaderAnyForm(Bytes bytes) {
  HeaderRead read;
  const auto h = px::ber::readHeader(bytes);
  if (!h) return read;
  read.sound = true;
  read.id = identifier(h->tagClass, h->constructed,
                       h->tagNumber < kLowTagMask ? h->tagNumber : kLowTagMask);
  if (h->constructed) read.contents = lenientContents(bytes, *h, read.cut);
  return read;
}

// Operation or error code: local (INTEGER) or global (OBJECT IDENTIFIER, by
// its last arc). Calls `set(code, global)`; false when it is neither or is
// malformed.
template <class Set>
[[gnu::always_inline]] inline bool readCode(const Element& e, Set set) {
  if (e.id == kIdInteger) {
    const auto code = px::ber::decodeInteger(e.contents());
    if (!code) return false;
    set(*code, false);
    return true;
  }
  if (e.id == kIdObjectIdentifier) {
    const auto code = px::ber::objectIdentifierLastArc(e.contents());
    if (!code) return false;
    set(*code, true);
    return true;
  }
  return false;
}

[[gnu::always_inline]] inline bool setOperationCode(const Element& e,
                                                    PXTCAP_itu_asn1_componentPDU& c) {
  return readCode(e, [&](std::int64_t code, bool global) {
    if (global)
      c.setGlobalOperationCode(code);
    else
      c.setLocalOperationCode(code);
  });
}

// An INTEGER ID (invoke or linked) is a one-octet value in Q.773; one longer
// than kMaxIntegerOctets is oversized. It is noted on the portion and not
// stored with `set`, but the component keeps its other fields, because an
// operation code never depends on the ID before it. An empty INTEGER is
// unreadable: false.
using IdSetter = void (PXTCAP_itu_asn1_componentPDU::*)(std::optional<std::int64_t>);

[[gnu::always_inline]] inline bool readId(const Element& e, PXTCAP_itu_asn1_componentPDU& c,
                                          IdSetter set, PXTCAP_itu_asn1_componentPortion& portion) {
  if (e.length == 0) return false;
  if (e.length > px::ber::kMaxIntegerOctets) {
    portion.noteDamage(PXTCAP_Damage::oversizedId);
    return true;
  }
  (c.*set)(px::ber::decodeInteger(e.contents()));
  return true;
}

// The invoke ID that starts every component but a reject: an INTEGER.
[[gnu::always_inline]] inline bool readInvokeId(Reader& r, PXTCAP_itu_asn1_componentPDU& c,
                                                PXTCAP_itu_asn1_componentPortion& portion) {
  if (std::int64_t id; r.oneOctetInteger(kIdInteger, id)) {
    c.setInvokeId(id);
    return true;
  }
  Element e;
  if (!r.next(e) || e.id != kIdInteger) return false;
  return readId(e, c, &PXTCAP_itu_asn1_componentPDU::setInvokeId, portion);
}

// The optional parameter at the end of a component; the elements after it are
// not read. It is kept as an opaque view: a parameter that is not one sound
// element leaves the component without a parameter (and the portion damaged),
// never without the operation code read before it.
[[gnu::always_inline]] inline void readParameter(Reader& r, PXTCAP_itu_asn1_componentPDU& c,
                                                 PXTCAP_itu_asn1_componentPortion& portion) {
  Element parameter;
  if (r.next(parameter))
    c.setParams(parameter.object());
  else if (r.damaged())
    portion.noteDamage(PXTCAP_Damage::damagedParameter);
}

// Q.773 table 12: Invoke ::= [1] SEQUENCE { invokeID, linkedID [0] OPTIONAL,
// operationCode, parameter ANY OPTIONAL }.
[[gnu::always_inline]] inline bool decodeInvoke(Reader& r, PXTCAP_itu_asn1_componentPDU& c,
                                                PXTCAP_itu_asn1_componentPortion& portion) {
  if (!readInvokeId(r, c, portion)) return false;
  // Without a linked ID the operation code follows, nearly always a local one
  // of one octet.
  if (std::int64_t code; r.oneOctetInteger(kIdInteger, code)) {
    c.setLocalOperationCode(code);
    readParameter(r, c, portion);
    return true;
  }
  Element e;
  if (!r.next(e)) return false;
  if (e.id == kIdLinkedIdPresent) {
    if (!readId(e, c, &PXTCAP_itu_asn1_componentPDU::setLinkedId, portion)) return false;
    if (!r.next(e)) return false;
  } else if (e.id == kIdLinkedIdAbsent) {
    if (!r.next(e)) return false;
  }
  if (!setOperationCode(e, c)) return false;
  readParameter(r, c, portion);
  return true;
}

// ReturnResult ::= SEQUENCE { invokeID, result SEQUENCE { operationCode,
// parameter } OPTIONAL }. The parameter is taken as optional, as stacks omit it.
bool decodeReturnResult(Reader& r, PXTCAP_itu_asn1_componentPDU& c,
                        PXTCAP_itu_asn1_componentPortion& portion) {
  if (!readInvokeId(r, c, portion)) return false;
  Element result;
  if (!r.next(result)) return !r.damaged();
  if (result.id != kIdSequence) return false;
  Reader inner(result.contents());
  if (std::int64_t local; inner.oneOctetInteger(kIdInteger, local)) {
    c.setLocalOperationCode(local);
  } else if (Element code; !inner.next(code) || !setOperationCode(code, c)) {
    return false;
  }
  readParameter(inner, c, portion);
  return true;
}

// ReturnError ::= SEQUENCE { invokeID, errorCode, parameter ANY OPTIONAL }.
bool decodeReturnError(Reader& r, PXTCAP_itu_asn1_componentPDU& c,
                       PXTCAP_itu_asn1_componentPortion& portion) {
  if (!readInvokeId(r, c, portion)) return false;
  Element e;
  if (!r.next(e) ||
      !readCode(e, [&](std::int64_t code, bool global) { c.setErrorCode(code, global); }))
    return false;
  readParameter(r, c, portion);
  return true;
}

// Reject ::= SEQUENCE { invokeID CHOICE { derivable INTEGER, not-derivable
// NULL }, problem CHOICE { [0] ... [3] IMPLICIT INTEGER } }.
bool decodeReject(Reader& r, PXTCAP_itu_asn1_componentPDU& c,
                  PXTCAP_itu_asn1_componentPortion& portion) {
  Element id;
  if (!r.next(id)) return false;
  if (id.id == kIdInteger) {
    if (!readId(id, c, &PXTCAP_itu_asn1_componentPDU::setInvokeId, portion)) return false;
  } else if (id.id != kIdNull) {
    return false;
  }
  Element problem;
  return r.next(problem) &&
         (problem.id & kClassAndFormMask) == identifier(Class::contextSpecific, false, 0) &&
         problem.tagNumber <= tags::kLastProblemTag &&
         px::ber::decodeInteger(problem.contents()).has_value();
}

// The component `o`, whose own tag and length are sound, as the next one of
// `portion`, once its kind is known. One whose fields cannot be read is
// skipped whole (nothing added) and noted as damage.
template <PXTCAP_ComponentKind Kind>
[[gnu::always_inline]] inline void decodeComponentOf(const Element& o,
                                                     PXTCAP_itu_asn1_componentPortion& portion) {
  // Decoded in place; the vector keeps its capacity from message to message.
  PXTCAP_itu_asn1_componentPDU& c = portion.addNew(Kind);
  Reader r(o.contents());
  bool readable = false;
  if constexpr (Kind == PXTCAP_ComponentKind::invoke)
    readable = decodeInvoke(r, c, portion);
  else if constexpr (Kind == PXTCAP_ComponentKind::returnResultLast ||
                     Kind == PXTCAP_ComponentKind::returnResultNotLast)
    readable = decodeReturnResult(r, c, portion);
  else if constexpr (Kind == PXTCAP_ComponentKind::returnError)
    readable = decodeReturnError(r, c, portion);
  else
    readable = decodeReject(r, c, portion);
  if (readable) return;
  portion.removeLast();
  portion.noteDamage(PXTCAP_Damage::unreadableComponent);
}

// Components are context-specific and constructed, [n] for the kind n (Q.773
// table 11); any other element is not a component and is skipped whole.
[[gnu::always_inline]] inline void decodeComponent(const Element& o,
                                                   PXTCAP_itu_asn1_componentPortion& portion) {
  constexpr auto component = [](std::uint32_t number) {
    return identifier(Class::contextSpecific, true, number);
  };
  // Invokes, nearly every component, are tested first rather than found
  // through the switch's jump table.
  if (o.id == component(tags::kInvoke)) [[likely]]
    return decodeComponentOf<PXTCAP_ComponentKind::invoke>(o, portion);
  switch (o.id) {
    case component(tags::kReturnResultLast):
      return decodeComponentOf<PXTCAP_ComponentKind::returnResultLast>(o, portion);
    case component(tags::kReturnError):
      return decodeComponentOf<PXTCAP_ComponentKind::returnError>(o, portion);
    case component(tags::kReject):
      return decodeComponentOf<PXTCAP_ComponentKind::reject>(o, portion);
    case component(tags::kReturnResultNotLast):
      return decodeComponentOf<PXTCAP_ComponentKind::returnResultNotLast>(o, portion);
    default:
      portion.noteDamage(PXTCAP_Damage::unknownComponent);
  }
}

// Components in order until the end of the portion. Damage inside a component
// skips that component only: each one's own tag and length say where the next
// begins. Only when those are broken is there no next one to find, and the
// portion ends there.
void decodeComponents(Bytes contents, PXTCAP_itu_asn1_componentPortion& portion) {
  Reader r(contents);
  Element element;
  while (r.next(element)) decodeComponent(element, portion);
  if (r.damaged()) portion.noteDamage(PXTCAP_Damage::componentFraming);
}

// The transaction ID `id` ([APPLICATION 8] or [9], primitive) at the start of
// `r`, which moves past it.
[[gnu::always_inline]] inline bool readTransactionId(Reader& r, std::uint8_t id,
                                                     std::optional<Bytes>& out) {
  Element e;
  if (!r.nextTagged(id, e)) return false;
  out = e.contents();
  return true;
}

}  // namespace

bool PXTCAP_itu_asn1_message::decode(std::span<const std::uint8_t> bytes) {
  clear();
  std::uint8_t id = 0;
  Bytes rest;
  bool cut = false;
  if (Element m; readShort(bytes.data(), bytes.data() + bytes.size(), m)) {
    id = m.id;
    rest = m.contents();
  } else if (const HeaderRead h = readHeaderAnyForm(bytes); h.sound) {
    id = h.id;
    rest = h.contents;
    cut = h.cut;
  } else {
    return false;
  }
  if ((id & kClassAndFormMask) != identifier(Class::application, true, 0)) return false;
  const auto type = messageTypeOf(id & kLowTagMask);
  if (!type) return false;

  // Q.773 4.2.1: the transaction IDs each message type must carry, in order.
  // Without them the message cannot be a valid one of its type.
  const bool hasOtid = *type == PXTCAP_MessageType::begin || *type == PXTCAP_MessageType::continue_;
  const bool hasDtid = *type == PXTCAP_MessageType::end || *type == PXTCAP_MessageType::continue_ ||
                       *type == PXTCAP_MessageType::abort;
  Reader ids(rest);
  if (hasOtid && !readTransactionId(ids, kIdOtid, _otid)) return false;
  if (hasDtid && !readTransactionId(ids, kIdDtid, _dtid)) {
    _otid.reset();
    return false;
  }
  rest = ids.rest();

  _type = *type;
  if (cut) noteDamage(PXTCAP_Damage::messageLength);

  // The abort cause (P-abort or a dialogue portion) is not read.
  if (*type == PXTCAP_MessageType::abort) return true;
  // The dialogue portion, and any element this decoder does not know, is
  // stepped over; the first component portion is decoded and ends the message.
  while (!rest.empty()) {
    Bytes contents;
    bool portionCut = false;
    if (Element e; readShort(rest.data(), rest.data() + rest.size(), e)) {
      rest = rest.subspan(2 + e.length);
      if (e.id != kIdComponentPortion) continue;
      contents = e.contents();
    } else {
      const HeaderRead h = readHeaderAnyForm(rest);
      if (!h.sound) {
        noteDamage(PXTCAP_Damage::elementBeforeComponents);
        break;
      }
      if (h.id != kIdComponentPortion) {
        std::size_t consumed = 0;
        if (!px::ber::readElement(rest, consumed)) {
          noteDamage(PXTCAP_Damage::elementBeforeComponents);
          break;
        }
        rest = rest.subspan(consumed);
        continue;
      }
      contents = h.contents;
      portionCut = h.cut;
    }
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
  return true;
}
