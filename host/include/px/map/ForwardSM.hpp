// GSM MAP MO- and MT-ForwardSM arguments (3GPP TS 29.002 7.6.8), as far as
// screening reads them: the IMSI choice of SM-RP-DA.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

#include "px/asn1/Asn1Object.hpp"

class PXGSMMAP_IMSI {
 public:
  // TBCD digits of up to kMaxOctets octets; longer IMSIs are not decoded.
  static constexpr std::size_t kMaxOctets = 32;
  static constexpr std::size_t kMaxDigits = 2 * kMaxOctets;

  PXGSMMAP_IMSI() = default;
  // Digits as text; false (and unchanged) when longer than kMaxDigits.
  bool setDigits(std::string_view digits);
  // For decoders: the kMaxDigits characters to write digits into, then their count.
  char* digitBuffer() { return _digits.data(); }
  void setDigitCount(std::size_t n) {
    _length = static_cast<std::uint8_t>(n < kMaxDigits ? n : kMaxDigits);
  }

  std::optional<std::string_view> imsiValue() const {
    return std::string_view(_digits.data(), _length);
  }

 private:
  std::array<char, kMaxDigits> _digits;
  std::uint8_t _length = 0;
};

// SM-RP-DA ::= CHOICE (3GPP TS 29.002 7.6.8.1).
enum class PXGSMMAP_SM_RP_DA_Choice : std::uint8_t {
  imsi = 0,                    // [0]
  lmsi = 1,                    // [1]
  serviceCentreAddressDA = 4,  // [4]
  noSM_RP_DA = 5,              // [5]
};

class PXGSMMAP_SM_RP_DA {
 public:
  PXGSMMAP_SM_RP_DA() = default;
  PXGSMMAP_SM_RP_DA(PXGSMMAP_SM_RP_DA_Choice choice) : _choice(choice) {}

  PXGSMMAP_SM_RP_DA_Choice choice() const { return _choice; }
  // The IMSI, or nullptr for the other choices.
  const PXGSMMAP_IMSI* imsi() const {
    return _choice == PXGSMMAP_SM_RP_DA_Choice::imsi ? &_imsi : nullptr;
  }
  void setImsi(const PXGSMMAP_IMSI& imsi) {
    _choice = PXGSMMAP_SM_RP_DA_Choice::imsi;
    _imsi = imsi;
  }
  // For decoders: makes the choice an IMSI and returns it to be filled in place.
  PXGSMMAP_IMSI& mutableImsi() {
    _choice = PXGSMMAP_SM_RP_DA_Choice::imsi;
    return _imsi;
  }
  void setChoice(PXGSMMAP_SM_RP_DA_Choice choice) { _choice = choice; }

 private:
  PXGSMMAP_IMSI _imsi;
  PXGSMMAP_SM_RP_DA_Choice _choice = PXGSMMAP_SM_RP_DA_Choice::noSM_RP_DA;
};

// The SEQUENCE both arguments begin with: sm-RP-DA, sm-RP-OA, sm-RP-UI, ...
class PXGSMMAP_ForwardSM_Arg {
 public:
  PXGSMMAP_ForwardSM_Arg() = default;
  explicit PXGSMMAP_ForwardSM_Arg(const PXGSMMAP_SM_RP_DA& da) : _da(da) {}

  const PXGSMMAP_SM_RP_DA* sm_RP_DA() const { return &_da; }

 protected:
  // Decodes the SM-RP-DA of a ForwardSM argument into `da` (in place: the
  // argument is decoded per screened message); false when `params` is not one.
  static bool decodeSmRpDa(const PXASN1Object* params, PXGSMMAP_SM_RP_DA& da);
  PXGSMMAP_SM_RP_DA& mutableSmRpDa() { return _da; }

 private:
  PXGSMMAP_SM_RP_DA _da;
};

// MO-ForwardSM-Arg (operation 46; also the MAP v1/v2 forwardSM argument).
class PXGSMMAP_MO_ForwardSM_Arg : public PXGSMMAP_ForwardSM_Arg {
 public:
  using PXGSMMAP_ForwardSM_Arg::PXGSMMAP_ForwardSM_Arg;
  // The argument, or nullopt when `params` is absent or is not such an argument.
  // `context` is accepted for the host's calling convention and not used.
  static std::optional<PXGSMMAP_MO_ForwardSM_Arg> initWithASN1Object(const PXASN1Object* params,
                                                                     const void* context);
};

// MT-ForwardSM-Arg (operation 44).
class PXGSMMAP_MT_ForwardSM_Arg : public PXGSMMAP_ForwardSM_Arg {
 public:
  using PXGSMMAP_ForwardSM_Arg::PXGSMMAP_ForwardSM_Arg;
  static std::optional<PXGSMMAP_MT_ForwardSM_Arg> initWithASN1Object(const PXASN1Object* params,
                                                                     const void* context);
};

namespace px {

// 3GPP TS 29.002 17.5: mt-ForwardSM and mo-ForwardSM (forwardSM in MAP v1/v2).
inline constexpr std::int64_t kMtForwardSmOperation = 44;
inline constexpr std::int64_t kMoForwardSmOperation = 46;

// The one place that decides which operation codes carry a ForwardSM argument:
// calls `f(std::type_identity<Argument>{})` with PXGSMMAP_MO_ForwardSM_Arg for
// operation 46 and PXGSMMAP_MT_ForwardSM_Arg for 44, whatever the code's form,
// and returns true; returns false without calling `f` for any other code.
template <class F>
bool withForwardSmArgument(std::int64_t operationCode, F&& f) {
  if (operationCode == kMoForwardSmOperation) {
    f(std::type_identity<PXGSMMAP_MO_ForwardSM_Arg>{});
    return true;
  }
  if (operationCode == kMtForwardSmOperation) {
    f(std::type_identity<PXGSMMAP_MT_ForwardSM_Arg>{});
    return true;
  }
  return false;
}

}  // namespace px
