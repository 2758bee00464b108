// SCCP connectionless message decoding (ITU-T Q.713 4.10-4.15).
//
// Each mandatory variable parameter is found through its own pointer, so damage
// in one does not hide the others: a bad calling party address still leaves the
// called party address and the data to read. The first error found, in the
// order called, calling, data, optional part, is the one returned.
#include <algorithm>

#include "SccpWire.hpp"
#include "px/BcdDigits.hpp"
#include "px/sccp/SccpPacket.hpp"

using px::SccpDecodeError;
using px::SccpMessageType;
using px::SccpRoutingIndicator;
using px::SccpSegmentation;

namespace {

namespace wire = px::sccp;
using Bytes = std::span<const std::uint8_t>;

// Translation type, numbering plan and encoding scheme (Q.713 3.4.2.3.3),
// the first two octets of `h`; true when the digits count is odd.
[[gnu::always_inline]] inline bool readTtNpEs(Bytes h, SccpAddress& a) {
  a.setTt(h[0]);
  a.setNpi(h[1] >> wire::kNumberingPlanShift);
  const std::uint8_t es = h[1] & wire::kEncodingSchemeMask;
  a.setEncodingScheme(es);
  return es != wire::kEncodingSchemeBcdEven;
}

// Decodes `p` into `a`, which starts cleared; on damage it keeps what was
// read before it.
[[gnu::always_inline]] inline bool decodeAddress(Bytes p, SccpAddress& a) {
  a.clear();
  if (p.empty()) return false;
  const std::uint8_t ai = p[0];
  const std::uint8_t gti = (ai >> wire::kGtiShift) & wire::kGtiMask;
  a.setNationalUse((ai & wire::kNationalUseBit) != 0);
  a.setRoutingIndicator((ai & wire::kRoutingIndicatorBit) ? SccpRoutingIndicator::subsystemNumber
                                                          : SccpRoutingIndicator::globalTitle);
  a.setGlobalTitleIndicator(gti);
  std::size_t pos = 1;
  if (ai & wire::kPointCodeIndicatorBit) {
    if (p.size() - pos < 2) return false;
    a.setPointCode(
        static_cast<std::uint16_t>(p[pos] | (p[pos + 1] & wire::kPointCodeHighMask) << 8));
    pos += 2;
  }
  if (ai & wire::kSsnIndicatorBit) {
    if (p.size() - pos < 1) return false;
    a.setSubsystemNumber(p[pos++]);
  }

  bool odd = false;
  // The global title nearly every address carries is tested first, rather
  // than found through the switch's jump table.
  if (gti == wire::kGtiTtNpEsNai) [[likely]] {
    if (p.size() - pos < 3) return false;
    odd = readTtNpEs(p.subspan(pos), a);
    a.setNai(p[pos + 2] & wire::kNaiMask);
    pos += 3;
  } else {
    switch (gti) {
      case wire::kGtiNone:
        return true;
      case wire::kGtiNaiOnly:
        if (p.size() - pos < 1) return false;
        odd = (p[pos] & wire::kOddIndicatorBit) != 0;
        a.setNai(p[pos] & wire::kNaiMask);
        pos += 1;
        break;
      case wire::kGtiTtOnly:
        if (p.size() - pos < 1) return false;
        a.setTt(p[pos]);
        pos += 1;
        break;
      case wire::kGtiTtNpEs:
        if (p.size() - pos < 2) return false;
        odd = readTtNpEs(p.subspan(pos), a);
        pos += 2;
        break;
      default:
        // Spare and reserved indicators carry no header this decoder knows; the
        // rest is shown as digits, as protocol analysers do.
        break;
    }
  }

  // Q.713 3.4.2.3: BCD digits, first digit in the low nibble; an odd count
  // leaves the last high nibble as filler.
  const Bytes octets = p.subspan(pos);
  // A one-octet parameter length keeps this from failing.
  if (octets.size() * 2 > SccpAddress::kMaxDigits) return false;
  std::size_t n = octets.size() * 2;
  if (odd && n > 0) --n;
  // Written in place: the filler of an odd count lands just past the digits.
  static_assert(SccpAddress::kMaxDigits >= px::kBcdDigitsAtEndSlack);
  px::writeBcdDigitsAtEnd(p, pos, a.resizeDigits(n));
  return true;
}

// The octet a mandatory or optional pointer designates (Q.713 2.3), or 0 for
// a zero pointer or one past the end (no parameter starts at octet 0). A
// two-octet pointer counts from its second octet. The layout is a constant,
// so that each message type gets its own straight-line reading.
template <const wire::MessageLayout& L>
std::size_t target(Bytes bytes, std::size_t index) {
  const std::size_t at = L.fixedLength + index * L.pointerWidth;
  std::size_t value = bytes[at];
  if constexpr (L.pointerWidth == 2) value |= std::size_t{bytes[at + 1]} << 8;
  if (value == 0) return 0;
  const std::size_t start = at + L.pointerWidth - 1 + value;
  return start < bytes.size() ? start : 0;
}

void note(SccpDecodeError& first, SccpDecodeError e) {
  if (first == SccpDecodeError::none) first = e;
}

// The called (index 0) or calling (1) party address: one length octet, then
// the address, whose octets go to `raw` when given. Damage is noted in
// `first`; false when there is no sound address.
template <const wire::MessageLayout& L>
[[gnu::always_inline]] inline bool readAddress(Bytes bytes, std::size_t index, SccpAddress& a,
                                               Bytes* raw, SccpDecodeError bad,
                                               SccpDecodeError& first) {
  const std::size_t at = target<L>(bytes, index);
  if (at == 0) {
    a.clear();
    note(first, SccpDecodeError::badPointer);
    return false;
  }
  const std::size_t length = bytes[at];
  if (length > bytes.size() - at - 1) {
    a.clear();
    note(first, SccpDecodeError::badParameterLength);
    return false;
  }
  const Bytes p = bytes.subspan(at + 1, length);
  if (raw) *raw = p;
  if (decodeAddress(p, a)) return true;
  note(first, bad);
  return false;
}

template <const wire::MessageLayout& L>
struct Layout {
  static constexpr const wire::MessageLayout& value = L;
};

}  // namespace

SccpDecodeError PXSCCP_Packet::decode(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) {
    clear();
    return SccpDecodeError::empty;
  }
  // Each message type is decoded by its own instance of `body`; every field
  // of the packet is set on each path, so the packet is not cleared first.
  auto body = [&]<class Tag>(Tag) {
    constexpr const wire::MessageLayout& layout = Tag::value;
    constexpr std::size_t pointers = layout.hasOptionalPart ? 4 : 3;
    if (bytes.size() < layout.fixedLength + pointers * layout.pointerWidth) {
      clear();
      _type = static_cast<SccpMessageType>(bytes[0]);
      return SccpDecodeError::truncated;
    }
    _type = static_cast<SccpMessageType>(bytes[0]);
    _classOrCause = bytes[1];
    if constexpr (layout.hasHopCounter)
      _hopCounter = bytes[2];
    else
      _hopCounter.reset();
    SccpDecodeError first = SccpDecodeError::none;

    _callingBytes = {};
    _hasCalled = readAddress<layout>(bytes, 0, _called, nullptr,
                                     SccpDecodeError::badCalledPartyAddress, first);
    _hasCalling = readAddress<layout>(bytes, 1, _calling, &_callingBytes,
                                      SccpDecodeError::badCallingPartyAddress, first);

    // The data follow the addresses in error order but are decoded last: the
    // optional part says whether they start a TCAP message.
    _data = {};
    const std::size_t dataAt = target<layout>(bytes, 2);
    SccpDecodeError dataError = SccpDecodeError::none;
    if (dataAt == 0) {
      dataError = SccpDecodeError::badPointer;
    } else {
      constexpr std::size_t lengthOctets = layout.longData ? 2 : 1;
      if (bytes.size() - dataAt < lengthOctets) {
        dataError = SccpDecodeError::badParameterLength;
      } else {
        std::size_t length = bytes[dataAt];
        if constexpr (layout.longData) length |= std::size_t{bytes[dataAt + 1]} << 8;
        const Bytes rest = bytes.subspan(dataAt + lengthOctets);
        // Data running past the end are kept as far as they go: the TCAP decoder
        // then delivers the complete components and marks the rest damaged.
        if (length > rest.size()) dataError = SccpDecodeError::badParameterLength;
        _data = rest.first(std::min(length, rest.size()));
      }
    }
    note(first, dataError);

    _segmentation.reset();
    bool laterSegment = false;
    if constexpr (layout.hasOptionalPart) {
      constexpr std::size_t at = layout.fixedLength + 3 * layout.pointerWidth;
      const bool none = bytes[at] == 0 && (layout.pointerWidth == 1 || bytes[at + 1] == 0);
      if (!none) {
        const std::size_t start = target<layout>(bytes, 3);
        bool ok = start != 0;
        std::size_t pos = start;
        while (ok) {
          // Q.713 2.4: the optional part ends with an end-of-optional-parameters octet.
          if (pos >= bytes.size()) {
            ok = false;
            break;
          }
          const std::uint8_t name = bytes[pos];
          if (name == wire::kEndOfOptionalParameters) break;
          if (bytes.size() - pos < 2 || bytes[pos + 1] > bytes.size() - pos - 2) {
            ok = false;
            break;
          }
          const std::size_t length = bytes[pos + 1];
          if (name == wire::kSegmentationParameter && length >= 1)
            laterSegment = (bytes[pos + 2] & wire::kFirstSegmentBit) == 0;
          if (name == wire::kSegmentationParameter && length >= wire::kSegmentationLength) {
            const std::uint8_t o = bytes[pos + 2];
            _segmentation = SccpSegmentation{
                (o & wire::kFirstSegmentBit) != 0, (o & wire::kInSequenceBit) != 0,
                static_cast<std::uint8_t>(o & wire::kRemainingSegmentsMask),
                std::uint32_t{bytes[pos + 3]} | std::uint32_t{bytes[pos + 4]} << 8 |
                    std::uint32_t{bytes[pos + 5]} << 16};
          }
          pos += 2 + length;
        }
        if (!ok) {
          note(first, SccpDecodeError::badOptionalPart);
          _segmentation.reset();
        }
      }
    }

    // A later segment of a segmented message starts in the middle of one, so it
    // is not offered to the TCAP decoder.
    if (!_data.empty() && !laterSegment) {
      _hasTcap = _tcap.decode(_data);
    } else {
      _tcap.clear();
      _hasTcap = false;
    }
    return first;
  };

  switch (static_cast<SccpMessageType>(bytes[0])) {
    case SccpMessageType::udt:
    case SccpMessageType::udts:
      return body(Layout<wire::kUdtLayout>());
    case SccpMessageType::xudt:
    case SccpMessageType::xudts:
      return body(Layout<wire::kXudtLayout>());
    case SccpMessageType::ludt:
    case SccpMessageType::ludts:
      return body(Layout<wire::kLudtLayout>());
    default:
      clear();
      return SccpDecodeError::unsupportedMessageType;
  }
}
