#include "px/asn1/BerReader.hpp"

#include <limits>

#include "px/EnumNames.hpp"

namespace px::ber {

namespace {

// X.690 8.1.2.2 and 8.1.2.5: bits 8-7 class, bit 6 constructed, bits 5-1 the
// tag number or 0x1F for the high-tag-number form.
constexpr std::uint8_t kClassShift = 6;
constexpr std::uint8_t kConstructedBit = 0x20;
constexpr std::uint8_t kLowTagMask = 0x1F;
constexpr std::uint8_t kHighTagNumberForm = 0x1F;
constexpr std::uint8_t kMoreOctetsBit = 0x80;
// X.690 8.1.3.6.1: the single octet 0x80 announces the indefinite form.
constexpr std::uint8_t kIndefiniteLength = 0x80;
// X.690 8.1.3.5 c: 0xFF shall not be used as the initial length octet.
constexpr std::uint8_t kReservedLength = 0xFF;
// X.690 8.1.5: end-of-contents is identifier 0x00 with length 0x00.
constexpr std::uint8_t kEndOfContents = 0x00;

bool fail(BerError* out, BerError e) {
  if (out) *out = e;
  return false;
}

}  // namespace

std::optional<BerHeader> detail::readHeaderAnyForm(std::span<const std::uint8_t> bytes,
                                                   BerError* error) {
  const std::size_t size = bytes.size();
  if (size == 0) return fail(error, BerError::truncated), std::nullopt;

  BerHeader h;
  const std::uint8_t id = bytes[0];
  h.tagClass = static_cast<PXASN1TagClass>(id >> kClassShift);
  h.constructed = (id & kConstructedBit) != 0;
  std::size_t pos = 1;
  if ((id & kLowTagMask) != kHighTagNumberForm) {
    h.tagNumber = id & kLowTagMask;
  } else {
    std::uint32_t number = 0;
    for (;;) {
      if (pos >= size) return fail(error, BerError::truncated), std::nullopt;
      const std::uint8_t b = bytes[pos++];
      if (number > (kMaxTagNumber >> 7)) return fail(error, BerError::tagTooLarge), std::nullopt;
      number = (number << 7) | (b & 0x7F);
      if ((b & kMoreOctetsBit) == 0) break;
    }
    h.tagNumber = number;
  }

  if (pos >= size) return fail(error, BerError::truncated), std::nullopt;
  const std::uint8_t first = bytes[pos++];
  if (first < kIndefiniteLength) {
    h.contentLength = first;
  } else if (first == kIndefiniteLength) {
    if (!h.constructed) return fail(error, BerError::indefinitePrimitive), std::nullopt;
    h.indefinite = true;
  } else {
    const std::size_t n = first & 0x7F;
    if (first == kReservedLength || n > kMaxLengthOctets)
      return fail(error, BerError::lengthTooLong), std::nullopt;
    if (n > size - pos) return fail(error, BerError::truncated), std::nullopt;
    std::uint64_t length = 0;
    for (std::size_t i = 0; i < n; ++i) length = (length << 8) | bytes[pos++];
    // Anything beyond the input is refused by the caller; saturate so the
    // comparison stays exact where size_t is narrower than 64 bits.
    h.contentLength = length > std::numeric_limits<std::size_t>::max()
                          ? std::numeric_limits<std::size_t>::max()
                          : static_cast<std::size_t>(length);
  }
  h.headerLength = pos;
  return h;
}

namespace {

std::optional<PXASN1Object> readAnyForm(std::span<const std::uint8_t> bytes, std::size_t& consumed,
                                        BerError* error) {
  if (!bytes.empty() && bytes[0] == kEndOfContents)
    return fail(error, BerError::unexpectedEndOfContents), std::nullopt;
  const auto h = readHeader(bytes, error);
  if (!h) return std::nullopt;
  const std::size_t size = bytes.size();

  if (!h->indefinite) {
    if (h->contentLength > size - h->headerLength)
      return fail(error, BerError::lengthBeyondInput), std::nullopt;
    consumed = h->headerLength + h->contentLength;
    return PXASN1Object(h->tagClass, h->constructed, h->tagNumber,
                        bytes.subspan(h->headerLength, h->contentLength));
  }

  // The end of an indefinite element is found by walking its contents: definite
  // elements are stepped over by their length, nested indefinite ones only
  // raise a depth counter, so the walk is linear and needs no recursion. The
  // count has no limit of its own: valid BER may nest as deep as it likes (an
  // extension container 40 levels down is still one parameter), and every
  // level costs two input octets, so the input bounds the count.
  std::size_t depth = 1;
  std::size_t pos = h->headerLength;
  for (;;) {
    if (pos >= size) return fail(error, BerError::missingEndOfContents), std::nullopt;
    if (bytes[pos] == kEndOfContents) {
      if (size - pos < 2) return fail(error, BerError::missingEndOfContents), std::nullopt;
      if (bytes[pos + 1] != 0) return fail(error, BerError::unexpectedEndOfContents), std::nullopt;
      pos += 2;
      if (--depth == 0) {
        consumed = pos;
        return PXASN1Object(h->tagClass, h->constructed, h->tagNumber,
                            bytes.subspan(h->headerLength, pos - 2 - h->headerLength),
                            /*indefiniteLength=*/true);
      }
      continue;
    }
    BerError inner = BerError::none;
    const auto child = readHeader(bytes.subspan(pos), &inner);
    if (!child) {
      return fail(error, inner == BerError::truncated ? BerError::missingEndOfContents : inner),
             std::nullopt;
    }
    pos += child->headerLength;
    if (child->indefinite) {
      ++depth;
    } else {
      if (child->contentLength > size - pos)
        return fail(error, BerError::lengthBeyondInput), std::nullopt;
      pos += child->contentLength;
    }
  }
}

}  // namespace

detail::ElementRead detail::readElementAnyForm(std::span<const std::uint8_t> bytes) {
  ElementRead read;
  BerError error = BerError::none;
  if (const auto element = readAnyForm(bytes, read.consumed, &error))
    read.element = *element;
  else
    read.error = error == BerError::none ? BerError::truncated : error;
  return read;
}

std::optional<std::int64_t> objectIdentifierLastArc(std::span<const std::uint8_t> contents) {
  if (contents.empty() || (contents.back() & kMoreOctetsBit) != 0) return std::nullopt;
  constexpr std::uint64_t kMax =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  std::uint64_t arc = 0;
  std::uint64_t last = 0;
  std::size_t subidentifiers = 0;
  for (const std::uint8_t b : contents) {
    if (arc > (kMax >> 7)) return std::nullopt;
    arc = (arc << 7) | (b & 0x7F);
    if ((b & kMoreOctetsBit) == 0) {
      ++subidentifiers;
      last = arc;
      arc = 0;
    }
  }
  arc = last;
  if (subidentifiers == 1) {
    // X.690 8.19.4: the first subidentifier is 40 * X + Y, with X at most 2.
    if (arc >= 80)
      arc -= 80;
    else if (arc >= 40)
      arc -= 40;
  }
  return static_cast<std::int64_t>(arc);
}

std::string_view berErrorName(BerError e) {
  static constexpr EnumName<BerError> kNames[] = {
      {BerError::none, "none"},
      {BerError::truncated, "truncated"},
      {BerError::tagTooLarge, "tagTooLarge"},
      {BerError::lengthTooLong, "lengthTooLong"},
      {BerError::lengthBeyondInput, "lengthBeyondInput"},
      {BerError::indefinitePrimitive, "indefinitePrimitive"},
      {BerError::missingEndOfContents, "missingEndOfContents"},
      {BerError::unexpectedEndOfContents, "unexpectedEndOfContents"},
  };
  return enumName(e, kNames);
}

}  // namespace px::ber
