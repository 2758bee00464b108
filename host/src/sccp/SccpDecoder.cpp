// SCCP connectionless message decoding (ITU-T Q.713 4.10-4.15).
//
// Each mandatory variable parameter is found through its own pointer, so damage
// in one does not hide the others: a bad calling party address still leaves the
// called party address and the data to read. The first error found, in the
// order called, calling, data, optional part, is the one returned.
#include <algorithm>
#include <optional>

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

bool decodeAddress(Bytes p, SccpAddress& a) {
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
    case wire::kGtiTtNpEsNai: {
      const std::size_t header = gti == wire::kGtiTtNpEs ? 2 : 3;
      if (p.size() - pos < header) return false;
      a.setTt(p[pos]);
      a.setNpi(p[pos + 1] >> wire::kNumberingPlanShift);
      const std::uint8_t es = p[pos + 1] & wire::kEncodingSchemeMask;
      a.setEncodingScheme(es);
      odd = es != wire::kEncodingSchemeBcdEven;
      if (gti == wire::kGtiTtNpEsNai) a.setNai(p[pos + 2] & wire::kNaiMask);
      pos += header;
      break;
    }
    default:
      // Spare and reserved indicators carry no header this decoder knows; the
      // rest is shown as digits, as protocol analysers do.
      break;
  }

  // Q.713 3.4.2.3: BCD digits, first digit in the low nibble; an odd count
  // leaves the last high nibble as filler.
  const Bytes octets = p.subspan(pos);
  // A one-octet parameter length keeps this from failing.
  if (octets.size() * 2 > SccpAddress::kMaxDigits) return false;
  std::size_t n = octets.size() * 2;
  if (odd && n > 0) --n;
  // Written in place: the filler of an odd count lands just past the digits.
  px::writeBcdDigits(octets, a.resizeDigits(n));
  return true;
}

struct Cursor {
  Bytes bytes;
  const wire::MessageLayout& layout;

  // The octet a mandatory or optional pointer designates (Q.713 2.3), nullopt
  // for a zero pointer or one past the end. A two-octet pointer counts from
  // its second octet.
  std::optional<std::size_t> target(std::size_t index) const {
    const std::size_t at = layout.fixedLength + index * layout.pointerWidth;
    std::size_t value = bytes[at];
    if (layout.pointerWidth == 2) value |= std::size_t{bytes[at + 1]} << 8;
    if (value == 0) return std::nullopt;
    const std::size_t start = at + layout.pointerWidth - 1 + value;
    if (start >= bytes.size()) return std::nullopt;
    return start;
  }
};

void note(SccpDecodeError& first, SccpDecodeError e) {
  if (first == SccpDecodeError::none) first = e;
}

}  // namespace

SccpDecodeError PXSCCP_Packet::decode(std::span<const std::uint8_t> bytes) {
  clear();
  if (bytes.empty()) return SccpDecodeError::empty;

  const wire::MessageLayout* layout = nullptr;
  switch (static_cast<SccpMessageType>(bytes[0])) {
    case SccpMessageType::udt:
    case SccpMessageType::udts:
      layout = &wire::kUdtLayout;
      break;
    case SccpMessageType::xudt:
    case SccpMessageType::xudts:
      layout = &wire::kXudtLayout;
      break;
    case SccpMessageType::ludt:
    case SccpMessageType::ludts:
      layout = &wire::kLudtLayout;
      break;
    default:
      return SccpDecodeError::unsupportedMessageType;
  }
  _type = static_cast<SccpMessageType>(bytes[0]);
  const std::size_t pointers = layout->hasOptionalPart ? 4 : 3;
  if (bytes.size() < layout->fixedLength + pointers * layout->pointerWidth)
    return SccpDecodeError::truncated;
  _classOrCause = bytes[1];
  if (layout->hasHopCounter) _hopCounter = bytes[2];

  const Cursor cursor{bytes, *layout};
  SccpDecodeError first = SccpDecodeError::none;

  // Called and calling party addresses: one length octet, then the address.
  auto address = [&](std::size_t index, SccpAddress& a, bool& has, SccpDecodeError bad) {
    const auto at = cursor.target(index);
    if (!at) return note(first, SccpDecodeError::badPointer);
    const std::size_t length = bytes[*at];
    if (length > bytes.size() - *at - 1) return note(first, SccpDecodeError::badParameterLength);
    if (&a == &_calling) _callingBytes = bytes.subspan(*at + 1, length);
    has = true;
    if (!decodeAddress(bytes.subspan(*at + 1, length), a)) {
      has = false;
      note(first, bad);
    }
  };
  address(0, _called, _hasCalled, SccpDecodeError::badCalledPartyAddress);
  address(1, _calling, _hasCalling, SccpDecodeError::badCallingPartyAddress);

  // The data follow the addresses in error order but are decoded last: the
  // optional part says whether they start a TCAP message.
  std::optional<std::size_t> dataAt = cursor.target(2);
  SccpDecodeError dataError = SccpDecodeError::none;
  if (!dataAt) {
    dataError = SccpDecodeError::badPointer;
  } else {
    const std::size_t lengthOctets = layout->longData ? 2 : 1;
    if (bytes.size() - *dataAt < lengthOctets) {
      dataError = SccpDecodeError::badParameterLength;
    } else {
      std::size_t length = bytes[*dataAt];
      if (layout->longData) length |= std::size_t{bytes[*dataAt + 1]} << 8;
      const Bytes rest = bytes.subspan(*dataAt + lengthOctets);
      // Data running past the end are kept as far as they go: the TCAP decoder
      // then delivers the complete components and marks the rest damaged.
      if (length > rest.size()) dataError = SccpDecodeError::badParameterLength;
      _data = rest.first(std::min(length, rest.size()));
    }
  }
  note(first, dataError);

  bool laterSegment = false;
  if (layout->hasOptionalPart) {
    const std::size_t at = layout->fixedLength + 3 * layout->pointerWidth;
    const bool none = bytes[at] == 0 && (layout->pointerWidth == 1 || bytes[at + 1] == 0);
    if (!none) {
      const auto start = cursor.target(3);
      bool ok = start.has_value();
      std::size_t pos = start.value_or(0);
      while (ok) {
        if (pos >= bytes.size()) {
          ok = false;  // Q.713 2.4: the optional part ends with an end-of-optional-parameters octet
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
          _segmentation =
              SccpSegmentation{(o & wire::kFirstSegmentBit) != 0, (o & wire::kInSequenceBit) != 0,
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
  if (!_data.empty() && !laterSegment) _hasTcap = _tcap.decode(_data);
  return first;
}
