// The pcapng block reader: interfaces of different link types, both byte
// orders, several sections, time stamp units, and damage at every length.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "PcapngReader.hpp"

namespace {

using Reader = qs::PcapngReader;
using Octets = std::vector<std::uint8_t>;

// Writes pcapng blocks in either byte order.
struct Writer {
  Octets out;
  bool big = false;

  void u16(Octets& b, std::uint32_t v) const {
    for (int i = 0; i < 2; ++i)
      b.push_back(static_cast<std::uint8_t>(v >> (big ? 8 * (1 - i) : 8 * i)));
  }
  void u32(Octets& b, std::uint32_t v) const {
    for (int i = 0; i < 4; ++i)
      b.push_back(static_cast<std::uint8_t>(v >> (big ? 8 * (3 - i) : 8 * i)));
  }
  void block(std::uint32_t type, Octets body) {
    while (body.size() % 4) body.push_back(0);
    auto length = static_cast<std::uint32_t>(12 + body.size());
    u32(out, type);
    u32(out, length);
    out.insert(out.end(), body.begin(), body.end());
    u32(out, length);
  }
  void section(bool bigEndian, std::uint16_t major = 1) {
    big = bigEndian;
    Octets b;
    u32(b, 0x1A2B3C4D);
    u16(b, major);
    u16(b, 0);
    u32(b, 0xFFFFFFFF);
    u32(b, 0xFFFFFFFF);
    block(0x0A0D0D0A, b);
  }
  // `resolution`: the if_tsresol octet, or -1 for none (microseconds).
  void interface(std::uint16_t linkType, int resolution = -1, std::uint32_t snap = 0) {
    Octets b;
    u16(b, linkType);
    u16(b, 0);
    u32(b, snap);
    if (resolution >= 0) {
      u16(b, 9);
      u16(b, 1);
      b.insert(b.end(), {static_cast<std::uint8_t>(resolution), 0, 0, 0});
      u16(b, 0);
      u16(b, 0);
    }
    block(1, b);
  }
  void packet(std::uint32_t interface, std::uint64_t stamp, const Octets& data) {
    Octets b;
    u32(b, interface);
    u32(b, static_cast<std::uint32_t>(stamp >> 32));
    u32(b, static_cast<std::uint32_t>(stamp));
    u32(b, static_cast<std::uint32_t>(data.size()));
    u32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    block(6, b);
  }
  // The obsolete packet block older writers still produce.
  void obsolete(std::uint16_t interface, std::uint64_t stamp, const Octets& data) {
    Octets b;
    u16(b, interface);
    u16(b, 0);  // drops
    u32(b, static_cast<std::uint32_t>(stamp >> 32));
    u32(b, static_cast<std::uint32_t>(stamp));
    u32(b, static_cast<std::uint32_t>(data.size()));
    u32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    block(2, b);
  }
  void simple(const Octets& data, std::uint32_t original) {
    Octets b;
    u32(b, original);
    b.insert(b.end(), data.begin(), data.end());
    block(3, b);
  }
};

struct Read {
  std::vector<Reader::Packet> packets;
  std::vector<Octets> data;
  Reader::Next last = Reader::Next::end;
  std::string error;
};

Read readAll(const Octets& file) {
  Read r;
  // fmemopen wants a non-empty buffer.
  Octets copy = file;
  copy.push_back(0);
  std::FILE* f = fmemopen(copy.data(), file.size(), "rb");
  if (file.empty()) {
    std::fclose(f);
    f = std::tmpfile();
  }
  Reader reader(f);
  Reader::Packet p;
  while ((r.last = reader.next(p)) == Reader::Next::packet) {
    r.packets.push_back(p);
    r.data.emplace_back(p.bytes.begin(), p.bytes.end());
  }
  r.error = reader.error();
  std::fclose(f);
  return r;
}

// Two sections of the given byte orders; the first with an Ethernet, a raw
// IPv4 and an MTP3 interface, the second with one SCCP interface.
Octets sample(bool firstBig, bool secondBig) {
  Writer w;
  w.section(firstBig);
  w.interface(1);
  w.interface(228, 9);
  w.interface(141, 0x80 | 10, 4);
  w.block(4, {0, 0, 0, 0});  // name resolution: not a frame
  w.packet(0, 1'500'000'000'000'001, {1, 2, 3});
  w.packet(1, 1'500'000'000'000'000'002, {4, 5, 6, 7, 8});
  w.packet(2, 3 * 1024 + 512, {9});
  w.simple({10, 11, 12, 13, 14, 15}, 6);  // SPB: interface 0
  w.section(secondBig);
  w.interface(142);
  w.packet(0, 0, {16});
  return w.out;
}

TEST(pcapng_reader, gives_each_interface_its_link_type_and_time_unit_in_both_byte_orders) {
  for (bool firstBig : {false, true}) {
    for (bool secondBig : {false, true}) {
      SCOPED_TRACE(std::to_string(firstBig) + std::to_string(secondBig));
      Read r = readAll(sample(firstBig, secondBig));
      ASSERT_EQ(r.last, Reader::Next::end) << r.error;
      ASSERT_EQ(r.packets.size(), 5u);
      EXPECT_EQ(r.packets[0].linkType, 1);
      EXPECT_EQ(r.packets[0].timeNs, 1'500'000'000'000'001'000);  // microseconds
      EXPECT_EQ(r.data[0], (Octets{1, 2, 3}));
      EXPECT_EQ(r.packets[1].linkType, 228);
      EXPECT_EQ(r.packets[1].interface, 1u);
      EXPECT_EQ(r.packets[1].timeNs, 1'500'000'000'000'000'002);  // nanoseconds
      EXPECT_EQ(r.packets[2].linkType, 141);
      EXPECT_EQ(r.packets[2].timeNs, 3'500'000'000);  // 2^-10 s
      EXPECT_EQ(r.data[2], (Octets{9}));
      EXPECT_EQ(r.packets[3].linkType, 1);
      EXPECT_EQ(r.data[3], (Octets{10, 11, 12, 13, 14, 15}));
      // The second section numbers its interfaces from 0 again.
      EXPECT_EQ(r.packets[4].linkType, 142);
      EXPECT_EQ(r.data[4], (Octets{16}));
    }
  }
}

TEST(pcapng_reader, reads_obsolete_packet_blocks) {
  for (bool big : {false, true}) {
    Writer w;
    w.section(big);
    w.interface(1);
    w.interface(101);
    w.obsolete(1, 2'000'000, {7, 8, 9});
    Read r = readAll(w.out);
    ASSERT_EQ(r.packets.size(), 1u) << r.error;
    EXPECT_EQ(r.packets[0].linkType, 101);
    EXPECT_EQ(r.packets[0].timeNs, 2'000'000'000);
    EXPECT_EQ(r.data[0], (Octets{7, 8, 9}));
  }
}

TEST(pcapng_reader, cuts_a_simple_packet_to_the_snap_length) {
  Writer w;
  w.section(false);
  w.interface(1, -1, 4);
  w.simple({1, 2, 3, 4, 5, 6}, 60);
  Read r = readAll(w.out);
  ASSERT_EQ(r.packets.size(), 1u);
  EXPECT_EQ(r.data[0], (Octets{1, 2, 3, 4}));
}

TEST(pcapng_reader, reports_damage_after_the_packets_before_it_at_every_length) {
  for (bool big : {false, true}) {
    Octets file = sample(big, !big);
    Read whole = readAll(file);
    ASSERT_EQ(whole.packets.size(), 5u);
    std::size_t endings = 0;
    for (std::size_t n = 0; n < file.size(); ++n) {
      Octets cut(file.begin(), file.begin() + static_cast<long>(n));
      Read r = readAll(cut);
      ASSERT_LE(r.packets.size(), whole.packets.size()) << n;
      for (std::size_t i = 0; i < r.packets.size(); ++i) {
        EXPECT_EQ(r.data[i], whole.data[i]) << n;
        EXPECT_EQ(r.packets[i].linkType, whole.packets[i].linkType) << n;
      }
      // A cut between blocks is a shorter file; any other is damage.
      if (r.last == Reader::Next::end)
        ++endings;
      else
        EXPECT_FALSE(r.error.empty()) << n;
    }
    EXPECT_EQ(endings, 12u);  // the empty file and after each of the 11 blocks but the last
  }
}

TEST(pcapng_reader, refuses_impossible_blocks) {
  auto damage = [](Octets file) {
    Read r = readAll(file);
    EXPECT_EQ(r.last, Reader::Next::damaged);
    return r.error;
  };
  Writer w;
  w.section(false, 2);
  EXPECT_NE(damage(w.out).find("version 2"), std::string::npos);

  Octets bom = sample(false, false);
  bom[8] = 0x11;
  EXPECT_NE(damage(bom).find("byte-order"), std::string::npos);

  Octets odd = sample(false, false);
  odd[4] = 29;  // section header length not a multiple of 4
  EXPECT_NE(damage(odd).find("impossible length"), std::string::npos);

  Octets trailing = sample(false, false);
  trailing[27] ^= 1;  // the section header's trailing length
  EXPECT_NE(damage(trailing).find("trailing length"), std::string::npos);

  Writer huge;
  huge.section(true);
  huge.out.insert(huge.out.end(), {0, 0, 0, 6, 0x7F, 0xFF, 0xFF, 0xFC});
  EXPECT_NE(damage(huge.out).find("more than"), std::string::npos);

  Writer noInterface;
  noInterface.section(false);
  noInterface.interface(1);
  noInterface.packet(1, 0, {1});
  EXPECT_NE(damage(noInterface.out).find("interface 1"), std::string::npos);

  Writer overLong;
  overLong.section(false);
  overLong.interface(1);
  overLong.packet(0, 0, {1, 2, 3, 4});
  overLong.out[overLong.out.size() - 16] = 200;  // captured length 200
  EXPECT_NE(damage(overLong.out).find("captured"), std::string::npos);

  Writer spbFirst;
  spbFirst.section(false);
  spbFirst.simple({1}, 1);
  EXPECT_NE(damage(spbFirst.out).find("without an interface"), std::string::npos);
}

}  // namespace
