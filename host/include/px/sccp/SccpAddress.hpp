// An SCCP called or calling party address (ITU-T Q.713 3.4).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

class SccpNatureOfAddressIndicator {
 public:
  constexpr explicit SccpNatureOfAddressIndicator(std::int32_t nai = 0) : _nai(nai) {}
  constexpr std::int32_t nai() const { return _nai; }

 private:
  std::int32_t _nai;
};

class SccpNumberPlanIndicator {
 public:
  constexpr explicit SccpNumberPlanIndicator(std::int32_t npi = 0) : _npi(npi) {}
  constexpr std::int32_t npi() const { return _npi; }

 private:
  std::int32_t _npi;
};

class SccpTranslationTableNumber {
 public:
  constexpr explicit SccpTranslationTableNumber(std::int32_t tt = 0) : _tt(tt) {}
  constexpr std::int32_t tt() const { return _tt; }

 private:
  std::int32_t _tt;
};

namespace px {
// Q.713 3.4.1, bit 7 of the address indicator.
enum class SccpRoutingIndicator : std::uint8_t { globalTitle = 0, subsystemNumber = 1 };
}  // namespace px

class SccpAddress {
 public:
  // An address parameter has at most 255 octets, so at most 2 * 255 digits.
  static constexpr std::size_t kMaxDigits = 2 * 255;

  SccpAddress() = default;

  // Screened fields: each is nullptr (or nullopt) when the address does not carry it.
  const SccpNatureOfAddressIndicator* nai() const { return _f.hasNai ? &_f.nai : nullptr; }
  const SccpNumberPlanIndicator* npi() const { return _f.hasNpi ? &_f.npi : nullptr; }
  const SccpTranslationTableNumber* tt() const { return _f.hasTt ? &_f.tt : nullptr; }
  // The global title digits; digit values 10 to 15 appear as 'a' to 'f'.
  std::optional<std::string_view> address() const {
    if (!_f.hasDigits) return std::nullopt;
    return std::string_view(_digits.data(), _f.digitCount);
  }

  // Wire fields of the address indicator and what it announces.
  px::SccpRoutingIndicator routingIndicator() const { return _f.ri; }
  std::uint8_t globalTitleIndicator() const { return _f.gti; }
  bool nationalUse() const { return _f.nationalUse; }
  std::optional<std::uint16_t> pointCode() const { return _f.pointCode; }
  std::optional<std::uint8_t> subsystemNumber() const { return _f.ssn; }
  std::optional<std::uint8_t> encodingScheme() const { return _f.encodingScheme; }

  SccpAddress& setNai(std::int32_t v) {
    return _f.nai = SccpNatureOfAddressIndicator(v), _f.hasNai = true, *this;
  }
  SccpAddress& setNpi(std::int32_t v) {
    return _f.npi = SccpNumberPlanIndicator(v), _f.hasNpi = true, *this;
  }
  SccpAddress& setTt(std::int32_t v) {
    return _f.tt = SccpTranslationTableNumber(v), _f.hasTt = true, *this;
  }
  // False (and unchanged) when there are more than kMaxDigits digits.
  bool setAddress(std::string_view digits);
  // The digits were written by a decoder from BCD octets: each is one of
  // 0-9 and a-f, so a writer of JSON or text need not look at them.
  bool digitsFromBcd() const { return _f.digitsFromBcd; }
  SccpAddress& setRoutingIndicator(px::SccpRoutingIndicator ri) { return _f.ri = ri, *this; }
  SccpAddress& setGlobalTitleIndicator(std::uint8_t gti) { return _f.gti = gti, *this; }
  SccpAddress& setNationalUse(bool n) { return _f.nationalUse = n, *this; }
  SccpAddress& setPointCode(std::optional<std::uint16_t> pc) { return _f.pointCode = pc, *this; }
  SccpAddress& setSubsystemNumber(std::optional<std::uint8_t> ssn) { return _f.ssn = ssn, *this; }
  SccpAddress& setEncodingScheme(std::optional<std::uint8_t> es) {
    return _f.encodingScheme = es, *this;
  }

  // For decoders of BCD digits: makes the digits present, `count` of them (at
  // most kMaxDigits), and returns the buffer to write them into, which must
  // get only 0-9 and a-f (px::writeBcdDigits). Up to kMaxDigits characters
  // may be written; only the first `count` are read.
  char* resizeDigits(std::size_t count) {
    _f.digitCount = static_cast<std::uint32_t>(count < kMaxDigits ? count : kMaxDigits);
    _f.hasDigits = true;
    _f.digitsFromBcd = true;
    return _digits.data();
  }

  // Resets every field but leaves the digit buffer as it is: assigning a
  // fresh address would copy all kMaxDigits bytes for every message. The
  // fields lie together, so this is a couple of stores.
  // (Constructed in place: an assignment goes through a temporary.)
  void clear() { std::construct_at(&_f); }

 private:
  struct Fields {
    SccpNatureOfAddressIndicator nai;
    SccpNumberPlanIndicator npi;
    SccpTranslationTableNumber tt;
    std::optional<std::uint16_t> pointCode;
    std::optional<std::uint8_t> ssn;
    std::optional<std::uint8_t> encodingScheme;
    // 32 bits though 16 would do: the fields then fill 32 octets exactly,
    // which clear() overwrites with two stores.
    std::uint32_t digitCount = 0;
    px::SccpRoutingIndicator ri = px::SccpRoutingIndicator::globalTitle;
    std::uint8_t gti = 0;
    bool nationalUse = false;
    bool hasNai = false;
    bool hasNpi = false;
    bool hasTt = false;
    bool hasDigits = false;
    bool digitsFromBcd = false;
  };
  Fields _f;
  static_assert(sizeof(Fields) == 32);
  // Left uninitialised: only the first _f.digitCount characters are ever read.
  std::array<char, kMaxDigits> _digits;
};
