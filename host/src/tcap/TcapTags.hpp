// Tag numbers of the ITU TCAP abstract syntax (ITU-T Q.773 4.2).
#pragma once

#include <cstdint>

namespace px::tcap {

// Q.773 table 8: message types, [APPLICATION n] constructed.
inline constexpr std::uint32_t kUnidirectional = 1;  // 0x61
inline constexpr std::uint32_t kBegin = 2;           // 0x62
inline constexpr std::uint32_t kEnd = 4;             // 0x64
inline constexpr std::uint32_t kContinue = 5;        // 0x65
inline constexpr std::uint32_t kAbort = 7;           // 0x67

// Q.773 table 9: transaction portion, [APPLICATION n].
inline constexpr std::uint32_t kOriginatingTransactionId = 8;  // 0x48, primitive
inline constexpr std::uint32_t kDestinationTransactionId = 9;  // 0x49, primitive
inline constexpr std::uint32_t kComponentPortion = 12;         // 0x6C, constructed

// Q.773 table 11: component types, [n] constructed.
inline constexpr std::uint32_t kInvoke = 1;               // 0xA1
inline constexpr std::uint32_t kReturnResultLast = 2;     // 0xA2
inline constexpr std::uint32_t kReturnError = 3;          // 0xA3
inline constexpr std::uint32_t kReject = 4;               // 0xA4
inline constexpr std::uint32_t kReturnResultNotLast = 7;  // 0xA7

// Q.773 table 13: linked ID [0] IMPLICIT INTEGER (0x80); later editions make it
// CHOICE { present [0], absent [1] NULL }, hence 0x81.
inline constexpr std::uint32_t kLinkedIdPresent = 0;
inline constexpr std::uint32_t kLinkedIdAbsent = 1;

// X.680 8.4 universal tags used inside components.
inline constexpr std::uint32_t kInteger = 2;
inline constexpr std::uint32_t kNull = 5;
inline constexpr std::uint32_t kObjectIdentifier = 6;
inline constexpr std::uint32_t kSequence = 16;

// Q.773 table 14: reject problem, [0]-[3] IMPLICIT INTEGER.
inline constexpr std::uint32_t kLastProblemTag = 3;

}  // namespace px::tcap
