// ITU TCAP messages and components (ITU-T Q.773), as decoded by the host.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "px/asn1/Asn1Object.hpp"

// Q.773 table 8: message type tags.
enum class PXTCAP_MessageType : std::uint8_t {
  unidirectional,  // [APPLICATION 1] 0x61
  begin,           // [APPLICATION 2] 0x62
  end,             // [APPLICATION 4] 0x64
  continue_,       // [APPLICATION 5] 0x65
  abort,           // [APPLICATION 7] 0x67
};

// Q.773 table 11: component type tags.
enum class PXTCAP_ComponentKind : std::uint8_t {
  invoke,               // [1] 0xA1
  returnResultLast,     // [2] 0xA2
  returnError,          // [3] 0xA3
  reject,               // [4] 0xA4
  returnResultNotLast,  // [7] 0xA7
};

// Why a TCAP message, or its component portion, was decoded only in part. A
// message records the first damage found, in the order of its octets.
enum class PXTCAP_Damage : std::uint8_t {
  none = 0,
  messageLength,  // the message's length runs past the end, or its end-of-contents is missing
  elementBeforeComponents,  // an element between the transaction IDs and the components is broken
  portionLength,        // the component portion's length runs past the end, or its end is missing
  componentFraming,     // a component's own tag or length is broken: the portion ends there
  unknownComponent,     // an element that is not a component type (skipped whole)
  unreadableComponent,  // a component whose invoke ID or operation code cannot be read (skipped
                        // whole)
  oversizedId,          // an invoke or linked ID longer than 8 octets (component kept without it)
  damagedParameter,     // a parameter that is not one sound element (component kept without it)
};

namespace px {
std::string_view messageTypeName(PXTCAP_MessageType t);      // "begin", "continue", ...
std::string_view componentKindName(PXTCAP_ComponentKind k);  // "invoke", "returnResultLast", ...
std::string_view tcapDamageName(PXTCAP_Damage d);            // "none", "messageLength", ...
}  // namespace px

class PXTCAP_itu_asn1_componentPDU {
 public:
  PXTCAP_itu_asn1_componentPDU() = default;
  explicit PXTCAP_itu_asn1_componentPDU(PXTCAP_ComponentKind kind) : _kind(kind) {}

  // An invoke with a local (INTEGER) or global (OBJECT IDENTIFIER) operation code.
  static PXTCAP_itu_asn1_componentPDU invoke(std::int64_t operationCode, bool global = false,
                                             std::optional<PXASN1Object> params = std::nullopt);

  PXTCAP_ComponentKind kind() const { return _kind; }
  std::optional<std::int64_t> invokeId() const { return _invokeId; }
  std::optional<std::int64_t> linkedId() const { return _linkedId; }
  // The local code's value, or for a global code the value of its last arc; 0 without a code.
  std::int64_t operationCode() const { return _operationCode; }
  bool hasLocalOperationCode() const { return _hasLocal; }
  bool hasGlobalOperationCode() const { return _hasGlobal; }
  // The parameter, or nullptr when the component has none.
  const PXASN1Object* params() const { return _params ? &*_params : nullptr; }
  // ReturnError only: the error code (a local value, or the last arc of a global
  // one). It is not an operation code, so both operation flags stay false.
  std::optional<std::int64_t> errorCode() const { return _errorCode; }
  bool hasGlobalErrorCode() const { return _globalErrorCode; }

  void setInvokeId(std::optional<std::int64_t> id) { _invokeId = id; }
  void setLinkedId(std::optional<std::int64_t> id) { _linkedId = id; }
  void setLocalOperationCode(std::int64_t code) {
    _operationCode = code;
    _hasLocal = true;
    _hasGlobal = false;
  }
  void setGlobalOperationCode(std::int64_t lastArc) {
    _operationCode = lastArc;
    _hasLocal = false;
    _hasGlobal = true;
  }
  void setParams(std::optional<PXASN1Object> params) { _params = params; }
  void setErrorCode(std::int64_t code, bool global) {
    _errorCode = code;
    _globalErrorCode = global;
  }

 private:
  std::optional<PXASN1Object> _params;
  std::optional<std::int64_t> _invokeId;
  std::optional<std::int64_t> _linkedId;
  std::optional<std::int64_t> _errorCode;
  std::int64_t _operationCode = 0;
  PXTCAP_ComponentKind _kind = PXTCAP_ComponentKind::invoke;
  bool _hasLocal = false;
  bool _hasGlobal = false;
  bool _globalErrorCode = false;
};

class PXTCAP_itu_asn1_componentPortion {
 public:
  std::span<const PXTCAP_itu_asn1_componentPDU> arrayOfComponents() const { return _components; }
  // True when some of the portion could not be read: components were skipped,
  // kept without an ID or parameter, or the decoding stopped after the
  // components listed. damage() says why (the first damage found).
  bool isDamaged() const { return _damage != PXTCAP_Damage::none; }
  PXTCAP_Damage damage() const { return _damage; }

  void clear() {
    _components.clear();
    _damage = PXTCAP_Damage::none;
  }
  void add(const PXTCAP_itu_asn1_componentPDU& c) { _components.push_back(c); }
  // For decoders: a new last component to fill in place, and its removal when
  // it turns out damaged.
  PXTCAP_itu_asn1_componentPDU& addNew(PXTCAP_ComponentKind kind) {
    return _components.emplace_back(kind);
  }
  void removeLast() { _components.pop_back(); }
  // Records `d` unless an earlier damage is recorded already.
  void noteDamage(PXTCAP_Damage d) {
    if (_damage == PXTCAP_Damage::none) _damage = d;
  }

 private:
  // Cleared, not freed, between messages so a reused packet allocates nothing.
  std::vector<PXTCAP_itu_asn1_componentPDU> _components;
  PXTCAP_Damage _damage = PXTCAP_Damage::none;
};

// An ITU TCAP message of any type. The Begin that screening reads is a message
// whose type is begin (PXTCAP_itu_asn1_begin).
class PXTCAP_itu_asn1_message {
 public:
  PXTCAP_itu_asn1_message() = default;
  explicit PXTCAP_itu_asn1_message(PXTCAP_MessageType type) : _type(type) {}

  // Decodes an ITU TCAP message (Q.773) into this object, reusing its storage;
  // false when `bytes` is not one (the object is then cleared). Components
  // before damage in the component portion are kept and the portion is marked
  // damaged. Parameters view `bytes`, which must outlive their use.
  bool decode(std::span<const std::uint8_t> bytes);

  PXTCAP_MessageType messageType() const { return _type; }
  // True when something after the header could not be read: a length running
  // past the end, a broken element, or a damaged component portion. damage()
  // says why (the first damage found); components around it are still listed.
  bool isDamaged() const { return _damage != PXTCAP_Damage::none; }
  PXTCAP_Damage damage() const { return _damage; }
  std::optional<std::span<const std::uint8_t>> otid() const { return _otid; }
  std::optional<std::span<const std::uint8_t>> dtid() const { return _dtid; }
  // The component portion, or nullptr when the message has none.
  const PXTCAP_itu_asn1_componentPortion* componentPortion() const {
    return _hasComponentPortion ? &_componentPortion : nullptr;
  }

  void setMessageType(PXTCAP_MessageType t) { _type = t; }
  // Records `d` unless an earlier damage is recorded already.
  void noteDamage(PXTCAP_Damage d) {
    if (_damage == PXTCAP_Damage::none) _damage = d;
  }
  // Makes the component portion present (and empty on first use) and returns it.
  PXTCAP_itu_asn1_componentPortion& mutableComponentPortion() {
    _hasComponentPortion = true;
    return _componentPortion;
  }
  void clear() {
    _type = PXTCAP_MessageType::begin;
    // Made empty in place: reset() first tests whether there is a value.
    std::construct_at(&_otid);
    std::construct_at(&_dtid);
    _componentPortion.clear();
    _hasComponentPortion = false;
    _damage = PXTCAP_Damage::none;
  }

 private:
  PXTCAP_itu_asn1_componentPortion _componentPortion;
  std::optional<std::span<const std::uint8_t>> _otid;
  std::optional<std::span<const std::uint8_t>> _dtid;
  PXTCAP_MessageType _type = PXTCAP_MessageType::begin;
  bool _hasComponentPortion = false;
  PXTCAP_Damage _damage = PXTCAP_Damage::none;
};

using PXTCAP_itu_asn1_begin = PXTCAP_itu_asn1_message;
