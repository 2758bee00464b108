// BCD digits: the vector paths of writeBcdDigitsAtEnd and writeBcdDigitsAhead
// and the octet-by-octet path, all against the plain definition (low nibble
// first, 10-15 as a-f), and the global title digits an SCCP address gets from
// either.
#include "px/BcdDigits.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "px/sccp/SccpPacket.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string nibbleByNibble(const std::uint8_t* octets, std::size_t n) {
  constexpr char kDigit[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out += kDigit[octets[i] & 0x0F];
    out += kDigit[octets[i] >> 4];
  }
  return out;
}

// Every octet value at every position of 1 to 10 digit octets, after 0 to 9
// other octets: 8 octets or more in all with at most 8 digit octets take the
// vector path, everything else the table.
TEST(bcd_digits, at_end_writes_every_octet_as_the_definition_does) {
  for (std::size_t before = 0; before < 10; ++before) {
    for (std::size_t n = 0; n <= 10; ++n) {
      for (unsigned first = 0; first < 256; ++first) {
        Bytes bytes(before, 0xEE);
        for (std::size_t i = 0; i < n; ++i)
          bytes.push_back(static_cast<std::uint8_t>(first + 97 * i));
        std::array<char, 2 * 10 + px::kBcdDigitsAtEndSlack + 1> out;
        out.fill('#');
        px::writeBcdDigitsAtEnd(bytes, before, out.data());
        const std::string expected = nibbleByNibble(bytes.data() + before, n);
        ASSERT_EQ(std::string(out.data(), 2 * n), expected)
            << "before " << before << ", " << n << " octets from " << first;
        ASSERT_EQ(out[std::max(2 * n, px::kBcdDigitsAtEndSlack)], '#') << "wrote past its slack";
      }
    }
  }
}

// writeBcdDigitsAhead: 1 to 10 digit octets followed by 0 to 9 others; at
// most 8 with 8 octets from their start take the vector path.
TEST(bcd_digits, ahead_writes_every_octet_as_the_definition_does) {
  for (std::size_t n = 1; n <= 10; ++n) {
    for (std::size_t after = 0; after < 10; ++after) {
      for (unsigned first = 0; first < 256; ++first) {
        Bytes bytes = {0xEE};
        for (std::size_t i = 0; i < n; ++i)
          bytes.push_back(static_cast<std::uint8_t>(first + 97 * i));
        bytes.insert(bytes.end(), after, 0xEE);
        std::array<char, 2 * 10 + px::kBcdDigitsAtEndSlack + 1> out;
        out.fill('#');
        px::writeBcdDigitsAhead(bytes, 1, n, out.data());
        ASSERT_EQ(std::string(out.data(), 2 * n), nibbleByNibble(bytes.data() + 1, n))
            << n << " octets, " << after << " after, from " << first;
        ASSERT_EQ(out[std::max(2 * n, px::kBcdDigitsAtEndSlack)], '#') << "wrote past its slack";
      }
    }
  }
}

// GTI 4 addresses of 1 to 10 digit octets, BCD odd and even: the digits
// stop before the filler of an odd count, whichever path wrote them.
TEST(bcd_digits, global_titles_of_every_length_and_parity) {
  for (std::size_t octets = 1; octets <= 10; ++octets) {
    for (const bool odd : {false, true}) {
      Bytes called = {0x12, 0x08, 0x00, static_cast<std::uint8_t>(odd ? 0x11 : 0x12), 0x04};
      for (std::size_t i = 0; i < octets; ++i)
        called.push_back(static_cast<std::uint8_t>(0x21 + 0x3b * i));
      const Bytes calling = {0x42, 0x08};  // routed on SSN, no digits
      Bytes udt = {0x09, 0x80, 3, static_cast<std::uint8_t>(3 + called.size()),
                   static_cast<std::uint8_t>(3 + called.size() + 2)};
      udt.push_back(static_cast<std::uint8_t>(called.size()));
      udt.insert(udt.end(), called.begin(), called.end());
      udt.push_back(static_cast<std::uint8_t>(calling.size()));
      udt.insert(udt.end(), calling.begin(), calling.end());
      udt.insert(udt.end(), {1, 0x00});

      PXSCCP_Packet packet;
      ASSERT_EQ(packet.decode(udt), px::SccpDecodeError::none);
      const SccpAddress* a = packet.incomingCalledPartyAddress();
      ASSERT_NE(a, nullptr);
      std::string expected = nibbleByNibble(called.data() + 5, octets);
      if (odd) expected.pop_back();
      EXPECT_EQ(a->address(), expected) << octets << " octets, " << (odd ? "odd" : "even");
    }
  }
}

}  // namespace
