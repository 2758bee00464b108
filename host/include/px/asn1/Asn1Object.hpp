// A decoded ASN.1 BER element: its tag and a view of its contents.
//
// The object does not own its bytes: it views the message it was decoded from,
// which must outlive it. Children of a constructed element are read on demand
// with the BER reader (px/asn1/BerReader.hpp), so nothing is allocated per element.
#pragma once

#include <cstdint>
#include <span>

// X.690 8.1.2.2, bits 8-7 of the identifier octet.
enum class PXASN1TagClass : std::uint8_t {
  universal = 0,
  application = 1,
  contextSpecific = 2,
  privateUse = 3,
};

class PXASN1Object {
 public:
  constexpr PXASN1Object() = default;
  constexpr PXASN1Object(PXASN1TagClass tagClass, bool constructed, std::uint32_t tagNumber,
                         std::span<const std::uint8_t> contents, bool indefiniteLength = false)
      : _contents(contents),
        _tagNumber(tagNumber),
        _tagClass(tagClass),
        _constructed(constructed),
        _indefiniteLength(indefiniteLength) {}

  constexpr PXASN1TagClass tagClass() const { return _tagClass; }
  constexpr bool isConstructed() const { return _constructed; }
  constexpr std::uint32_t tagNumber() const { return _tagNumber; }
  // The contents octets; for the indefinite form, without the end-of-contents octets.
  constexpr std::span<const std::uint8_t> contents() const { return _contents; }
  constexpr bool isIndefiniteLength() const { return _indefiniteLength; }

  constexpr bool is(PXASN1TagClass c, bool constructed, std::uint32_t number) const {
    return _tagClass == c && _constructed == constructed && _tagNumber == number;
  }

 private:
  std::span<const std::uint8_t> _contents;
  std::uint32_t _tagNumber = 0;
  PXASN1TagClass _tagClass = PXASN1TagClass::universal;
  bool _constructed = false;
  bool _indefiniteLength = false;
};
