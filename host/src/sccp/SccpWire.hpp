// Wire constants of the SCCP connectionless messages (ITU-T Q.713).
#pragma once

#include <cstddef>
#include <cstdint>

namespace px::sccp {

// Q.713 3.4.1, address indicator bits.
inline constexpr std::uint8_t kNationalUseBit = 0x80;       // bit 8
inline constexpr std::uint8_t kRoutingIndicatorBit = 0x40;  // bit 7
inline constexpr std::uint8_t kGtiShift = 2;                // bits 6-3
inline constexpr std::uint8_t kGtiMask = 0x0F;
inline constexpr std::uint8_t kSsnIndicatorBit = 0x02;        // bit 2
inline constexpr std::uint8_t kPointCodeIndicatorBit = 0x01;  // bit 1

// Q.713 3.4.2.1: the signalling point code is 14 bits, least significant octet first.
inline constexpr std::uint8_t kPointCodeHighMask = 0x3F;

// Q.713 3.4.2.3: global title indicator values.
inline constexpr std::uint8_t kGtiNone = 0;
inline constexpr std::uint8_t kGtiNaiOnly = 1;    // odd/even + nature of address
inline constexpr std::uint8_t kGtiTtOnly = 2;     // translation type
inline constexpr std::uint8_t kGtiTtNpEs = 3;     // + numbering plan, encoding scheme
inline constexpr std::uint8_t kGtiTtNpEsNai = 4;  // + nature of address

// Q.713 3.4.2.3.1: odd/even indicator (bit 8) and nature of address (bits 7-1).
inline constexpr std::uint8_t kOddIndicatorBit = 0x80;
inline constexpr std::uint8_t kNaiMask = 0x7F;
// Q.713 3.4.2.3.3: numbering plan in bits 8-5, encoding scheme in bits 4-1.
inline constexpr std::uint8_t kNumberingPlanShift = 4;
inline constexpr std::uint8_t kEncodingSchemeMask = 0x0F;
// Encoding scheme 2 is BCD with an even number of digits; 1 is BCD odd.
// Every other scheme is read like 1, as the common protocol analysers do.
inline constexpr std::uint8_t kEncodingSchemeBcdEven = 2;

// Q.713 3.17: segmentation parameter name in the optional part; bit 8 of its
// first octet marks the first segment.
inline constexpr std::uint8_t kEndOfOptionalParameters = 0x00;
inline constexpr std::uint8_t kSegmentationParameter = 0x10;
inline constexpr std::uint8_t kFirstSegmentBit = 0x80;
// Bit 7: in-sequence delivery (class 1) requested; bits 4-1: remaining segments;
// then three octets of segmentation local reference.
inline constexpr std::uint8_t kInSequenceBit = 0x40;
inline constexpr std::uint8_t kRemainingSegmentsMask = 0x0F;
inline constexpr std::size_t kSegmentationLength = 4;

// Q.713 4.10-4.15: layout of the connectionless messages.
struct MessageLayout {
  std::size_t fixedLength;   // message type and mandatory fixed parameters
  std::size_t pointerWidth;  // 1, or 2 for LUDT and LUDTS (Q.713 2.3)
  bool hasHopCounter;
  bool hasOptionalPart;
  bool longData;  // data length is 2 octets (Q.713 3.16)
};
inline constexpr MessageLayout kUdtLayout{2, 1, false, false, false};  // UDT, UDTS
inline constexpr MessageLayout kXudtLayout{3, 1, true, true, false};   // XUDT, XUDTS
inline constexpr MessageLayout kLudtLayout{3, 2, true, true, true};    // LUDT, LUDTS

}  // namespace px::sccp
