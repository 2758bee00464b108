// Frame sources: hex lines, pcap records, and the reasons an input is refused.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "FrameSource.hpp"
#include "LinkLayer.hpp"

namespace {

namespace fs = std::filesystem;

TEST(hex_line, reads_octets_with_separators_and_comments) {
  struct Case {
    std::string line;
    bool ok;
    bool isMessage;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Case> cases = {
      {"0980030e", true, true, {0x09, 0x80, 0x03, 0x0e}},
      {"09 80 03 0E\r\n", true, true, {0x09, 0x80, 0x03, 0x0e}},
      {"09:80:03  # a comment", true, true, {0x09, 0x80, 0x03}},
      {"", false, false, {}},
      {"   \t", false, false, {}},
      {"# only a comment 12", false, false, {}},
      {"0980 0", false, true, {}},  // a lone nibble at the end
      {"098 0", false, true, {}},   // a lone nibble before a blank
      {"09zz", false, true, {}},
      {"0x0980", false, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<std::uint8_t> out;
    bool isMessage = !c.isMessage;
    EXPECT_EQ(qs::parseHexLine(c.line, out, isMessage), c.ok);
    EXPECT_EQ(isMessage, c.isMessage);
    if (c.ok) {
      EXPECT_EQ(out, c.bytes);
    }
  }
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("qel-screen-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string write(const std::string& name, const std::string& content) {
    auto p = dir / name;
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
  }
  fs::path dir;
};

using frame_source = TempDir;

TEST_F(frame_source, numbers_hex_messages_by_their_line) {
  auto path = write("m.hex", "# header\n\n0980\nnot hex\n  09 81 # x\n");
  std::string error;
  auto s = qs::FrameSource::open(path, error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(s->linkType(), qs::dlt::sccp);
  qs::Frame f;
  ASSERT_EQ(s->next(f), qs::FrameSource::Next::frame);
  EXPECT_EQ(f.number, 3u);
  EXPECT_EQ(f.bytes.size(), 2u);
  ASSERT_EQ(s->next(f), qs::FrameSource::Next::frame);
  EXPECT_EQ(f.number, 4u);
  EXPECT_EQ(f.unreadable, qs::Skip::badHex);
  ASSERT_EQ(s->next(f), qs::FrameSource::Next::frame);
  EXPECT_EQ(f.number, 5u);
  EXPECT_EQ(f.bytes[1], 0x81);
  EXPECT_EQ(s->next(f), qs::FrameSource::Next::end);
}

TEST_F(frame_source, says_why_an_input_cannot_be_used) {
  std::string error;
  EXPECT_FALSE(qs::FrameSource::open((dir / "missing.pcap").string(), error));
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_FALSE(qs::FrameSource::open(dir.string(), error));
  EXPECT_EQ(error, "Is a directory");
  EXPECT_FALSE(qs::FrameSource::open(write("empty.pcap", ""), error));
  EXPECT_EQ(error, "empty file, not a capture (pcap or pcapng)");
  EXPECT_FALSE(qs::FrameSource::open(write("doc.pcap", "%PDF-1.4 binary"), error));
  EXPECT_EQ(error, "not a capture (pcap or pcapng)");
  // Hex text under another name is read only when asked.
  EXPECT_FALSE(qs::FrameSource::open(write("m.txt", "0980\n"), error));
  EXPECT_TRUE(qs::FrameSource::open(write("m2.txt", "0980\n"), error, true));
  // pcap magic, then a cut file header: libpcap's own reason.
  EXPECT_FALSE(
      qs::FrameSource::open(write("cut.pcap", std::string("\xd4\xc3\xb2\xa1\x02\x00", 6)), error));
  EXPECT_NE(error.find("truncated"), std::string::npos) << error;
}

TEST_F(frame_source, reports_damage_after_the_last_whole_frame) {
  // A pcap header (raw IP) and one record whose data is cut.
  std::string header("\xd4\xc3\xb2\xa1\x02\x00\x04\x00\0\0\0\0\0\0\0\0\xff\xff\0\0\x65\0\0\0", 24);
  std::string whole("\0\0\0\0\0\0\0\0\x02\0\0\0\x02\0\0\0\x45\0", 18);
  std::string cut("\0\0\0\0\0\0\0\0\x10\0\0\0\x10\0\0\0\x45", 17);
  std::string error;
  auto s = qs::FrameSource::open(write("t.pcap", header + whole + cut), error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(s->linkType(), qs::dlt::rawBsd);
  qs::Frame f;
  EXPECT_EQ(s->next(f), qs::FrameSource::Next::frame);
  EXPECT_EQ(f.number, 1u);
  EXPECT_EQ(s->next(f), qs::FrameSource::Next::damaged);
  EXPECT_NE(s->damage().find("truncated"), std::string::npos) << s->damage();
}

}  // namespace

namespace pcap_files {

// A classic pcap file built record by record, in either byte order.
struct PcapFile {
  bool bigEndian = false;
  bool nano = false;
  std::uint32_t snaplen = 65535;
  std::string bytes;

  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      const int shift = bigEndian ? 8 * (3 - i) : 8 * i;
      bytes += static_cast<char>((v >> shift) & 0xFF);
    }
  }
  void u16(std::uint16_t v) {
    if (bigEndian) {
      bytes += static_cast<char>(v >> 8);
      bytes += static_cast<char>(v & 0xFF);
    } else {
      bytes += static_cast<char>(v & 0xFF);
      bytes += static_cast<char>(v >> 8);
    }
  }
  PcapFile& header() {
    u32(nano ? 0xA1B23C4D : 0xA1B2C3D4);
    u16(2);
    u16(4);
    u32(0);
    u32(0);
    u32(snaplen);
    u32(101);  // raw IP
    return *this;
  }
  // A record of `caplen` octets (a pattern from `seed`) claiming `length` on the wire.
  PcapFile& record(std::uint32_t seconds, std::uint32_t fraction, std::uint32_t caplen,
                   std::uint32_t length, int seed) {
    u32(seconds);
    u32(fraction);
    u32(caplen);
    u32(length);
    for (std::uint32_t i = 0; i < caplen; ++i) bytes += static_cast<char>((seed + i * 7) & 0xFF);
    return *this;
  }
};

struct Read {
  std::vector<std::string> frames;
  std::vector<std::int64_t> times;
  std::vector<std::uint32_t> lengths;
  bool damaged = false;
  std::string damage;
};

// What libpcap itself returns for the file, read with nanosecond stamps.
Read byLibpcap(const std::string& path) {
  Read r;
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_t* p =
      pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_NANO, errbuf);
  if (!p) {
    r.damaged = true;
    r.damage = errbuf;
    return r;
  }
  pcap_pkthdr* h;
  const u_char* d;
  int rc;
  while ((rc = pcap_next_ex(p, &h, &d)) == 1) {
    r.frames.emplace_back(reinterpret_cast<const char*>(d), h->caplen);
    r.times.push_back(std::int64_t{h->ts.tv_sec} * 1'000'000'000 + h->ts.tv_usec);
    r.lengths.push_back(h->len);
  }
  if (rc != PCAP_ERROR_BREAK) {
    r.damaged = true;
    r.damage = pcap_geterr(p);
  }
  pcap_close(p);
  return r;
}

Read bySource(const std::string& path) {
  Read r;
  std::string error;
  auto s = qs::FrameSource::open(path, error);
  if (!s) {
    r.damaged = true;
    r.damage = error;
    return r;
  }
  qs::Frame f;
  for (;;) {
    auto n = s->next(f);
    if (n == qs::FrameSource::Next::frame) {
      EXPECT_EQ(f.number, r.frames.size() + 1);
      r.frames.emplace_back(reinterpret_cast<const char*>(f.bytes.data()), f.bytes.size());
      r.times.push_back(f.timeNs);
      r.lengths.push_back(f.originalLength);
      continue;
    }
    if (n == qs::FrameSource::Next::damaged) {
      r.damaged = true;
      r.damage = s->damage();
    }
    return r;
  }
}

}  // namespace pcap_files

// Regular pcap files are read in blocks by the tool itself; whatever the
// file holds, the frames, stamps, lengths and the damage at the end must be
// exactly libpcap's.
TEST_F(frame_source, reads_pcap_records_exactly_as_libpcap_does) {
  using pcap_files::PcapFile;
  struct Case {
    std::string name;
    PcapFile file;
  };
  std::vector<Case> cases;
  for (bool big : {false, true})
    for (bool nano : {false, true}) {
      PcapFile f;
      f.bigEndian = big;
      f.nano = nano;
      f.header().record(1700000000, nano ? 999999999 : 999999, 40, 40, 1).record(5, 0, 0, 0, 2);
      cases.push_back({std::string("plain") + (big ? " big-endian" : "") + (nano ? " ns" : ""), f});
    }
  {
    // Records across the 1 MiB read blocks, one of them longer than a block's slack.
    PcapFile f;
    f.header();
    for (int i = 0; i < 3000; ++i) f.record(1, static_cast<std::uint32_t>(i), 700, 700, i);
    f.record(2, 0, 200000, 200000, 9);
    for (int i = 0; i < 2000; ++i) f.record(3, static_cast<std::uint32_t>(i), 333, 400, i);
    cases.push_back({"across blocks", f});
  }
  {
    PcapFile f;
    f.snaplen = 100;
    f.header().record(1, 0, 50, 50, 1).record(1, 1, 150, 150, 2).record(1, 2, 30, 30, 3);
    cases.push_back({"longer than the snapshot length", f});
  }
  {
    PcapFile f;
    f.header().record(1, 0, 50, 50, 1).record(1, 1, 60, 20, 2).record(1, 2, 30, 30, 3);
    cases.push_back({"captured longer than on the wire", f});
  }
  {
    PcapFile f;
    f.header().record(1, 0, 50, 50, 1).record(1, 1, 300000, 300000, 2);
    cases.push_back({"longer than any snapshot", f});
  }
  {
    PcapFile f;
    f.header().record(1, 0, 50, 50, 1);
    f.bytes += std::string("\x01\x02\x03\x04\x05", 5);
    cases.push_back({"cut record header", f});
  }
  {
    PcapFile f;
    f.header().record(1, 0, 50, 50, 1).record(1, 1, 80, 80, 2);
    f.bytes.resize(f.bytes.size() - 10);
    cases.push_back({"cut record data", f});
  }
  {
    PcapFile f;
    f.header().record(1, 0, 50, 50, 1);
    f.bytes.resize(f.bytes.size() - 50);
    cases.push_back({"header only of the last record", f});
  }
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto path = write("c" + std::to_string(n++) + ".pcap", c.file.bytes);
    auto expected = pcap_files::byLibpcap(path);
    auto got = pcap_files::bySource(path);
    EXPECT_EQ(got.frames.size(), expected.frames.size());
    EXPECT_TRUE(got.frames == expected.frames);
    EXPECT_EQ(got.times, expected.times);
    EXPECT_EQ(got.lengths, expected.lengths);
    EXPECT_EQ(got.damaged, expected.damaged);
    EXPECT_EQ(got.damage, expected.damage);
  }
}

// Lent blocks: a regular pcap file read into blocks a lender hands out, as
// the pipeline does to point its batches at the frames instead of copying
// them.
namespace lending {

using pcap_files::PcapFile;
using Next = qs::FrameSource::Next;

// Hands out a fresh block at every borrow(), poisoned, and poisons it again
// the moment it comes back, so a frame used after its block went back shows
// the poison. Blocks stay allocated until the lender goes: a frame kept too
// long reads poison, not freed memory. The frames the test keeps are checked
// once more just before their block is poisoned.
class PoisoningLender final : public qs::BlockLender {
 public:
  static constexpr std::uint8_t kPoison = 0xA5;

  std::uint8_t* borrow() override {
    auto& block = _blocks.emplace_back(std::make_unique<std::uint8_t[]>(kBlockSize));
    std::memset(block.get(), kPoison, kBlockSize);
    _out.push_back(block.get());
    _maxOut = std::max(_maxOut, _out.size());
    return block.get();
  }

  void giveBack(std::uint8_t* block) override {
    auto it = std::find(_out.begin(), _out.end(), block);
    if (it == _out.end()) {
      ADD_FAILURE() << "given back a block that is not out";
      return;
    }
    checkKept();
    std::erase_if(_kept, [&](const Kept& k) { return k.block == block; });
    _out.erase(it);
    std::memset(block, kPoison, kBlockSize);
    ++_givenBack;
  }

  // The block out now that holds `bytes` whole, or null.
  const std::uint8_t* holder(qs::Bytes bytes) const {
    for (const std::uint8_t* b : _out)
      if (bytes.data() >= b && bytes.data() + bytes.size() <= b + kBlockSize) return b;
    return nullptr;
  }
  // Remembers a frame that lies in a block out now, to be checked against
  // `expected` until the block comes back; false if it lies in none.
  bool keep(qs::Bytes bytes, const std::string& expected) {
    const std::uint8_t* block = holder(bytes);
    if (!block) return false;
    _kept.push_back({block, bytes, &expected});
    return true;
  }
  // Every kept frame still holds what it was handed out with.
  void checkKept() const {
    for (const Kept& k : _kept)
      if (k.bytes.size() != k.expected->size() ||
          std::memcmp(k.bytes.data(), k.expected->data(), k.bytes.size()) != 0) {
        ADD_FAILURE() << "a frame in a block still out has changed (" << k.bytes.size()
                      << " octets at block offset " << (k.bytes.data() - k.block) << ")";
        return;
      }
  }

  std::size_t out() const { return _out.size(); }
  // Every block borrowed has come back, once.
  void expectAllBack() const {
    EXPECT_EQ(out(), 0u);
    EXPECT_EQ(givenBack(), borrowed());
  }
  std::size_t maxOut() const { return _maxOut; }
  std::size_t borrowed() const { return _blocks.size(); }
  std::size_t givenBack() const { return _givenBack; }

 private:
  struct Kept {
    const std::uint8_t* block;
    qs::Bytes bytes;
    const std::string* expected;
  };
  std::vector<std::unique_ptr<std::uint8_t[]>> _blocks;
  std::vector<std::uint8_t*> _out;
  std::vector<Kept> _kept;
  std::size_t _maxOut = 0;
  std::size_t _givenBack = 0;
};

struct Expected {
  std::string bytes;
  std::int64_t timeNs;
  std::uint64_t number;
  std::uint32_t originalLength;
  bool hasTime, nanoPrecision;
  int linkType;
};

struct Reading {
  std::vector<Expected> frames;
  Next last = Next::end;
  std::string damage;
};

std::unique_ptr<qs::FrameSource> open(const std::string& path) {
  std::string error;
  auto s = qs::FrameSource::open(path, error);
  EXPECT_TRUE(s) << error;
  return s;
}

// The file read without a lender, and checked against libpcap's reading.
Reading reference(const std::string& path) {
  Reading r;
  auto s = open(path);
  if (!s) return r;
  qs::Frame f;
  while ((r.last = s->next(f)) == Next::frame)
    r.frames.push_back({std::string(reinterpret_cast<const char*>(f.bytes.data()), f.bytes.size()),
                        f.timeNs, f.number, f.originalLength, f.hasTime, f.nanoPrecision,
                        f.linkType});
  r.damage = s->damage();
  auto libpcap = pcap_files::byLibpcap(path);
  EXPECT_EQ(r.frames.size(), libpcap.frames.size());
  for (std::size_t i = 0; i < std::min(r.frames.size(), libpcap.frames.size()); ++i)
    EXPECT_TRUE(r.frames[i].bytes == libpcap.frames[i]) << "frame " << i + 1;
  EXPECT_EQ(r.last == Next::damaged, libpcap.damaged);
  return r;
}

// Frame `i` as read without a lender.
void expectSame(const qs::Frame& f, const Expected& e, std::size_t i) {
  SCOPED_TRACE("frame " + std::to_string(i + 1));
  ASSERT_EQ(f.bytes.size(), e.bytes.size());
  EXPECT_EQ(std::memcmp(f.bytes.data(), e.bytes.data(), e.bytes.size()), 0);
  EXPECT_EQ(f.timeNs, e.timeNs);
  EXPECT_EQ(f.number, e.number);
  EXPECT_EQ(f.originalLength, e.originalLength);
  EXPECT_EQ(f.hasTime, e.hasTime);
  EXPECT_EQ(f.nanoPrecision, e.nanoPrecision);
  EXPECT_EQ(f.linkType, e.linkType);
}

// Several MiB of records of assorted sizes, so that blocks are renewed many
// times: mostly short ones, some of tens of KB, a few empty, and some placed
// against the end of a block (1 MiB from just after the file header, the
// next from the first record not wholly in it): one of the largest size read
// in blocks (262144 octets) with its header and some of its data before the
// end, one just under that size with its header cut by the end, and one
// that ends exactly at the end.
struct Assorted {
  PcapFile file;
  std::vector<std::size_t> starts;  // where each record starts in the file
  std::size_t largest = 0;          // the index of the 262144-octet record
  std::size_t headerAcross = 0;     // of the 262143-octet one
  std::size_t afterExactEnd = 0;    // of the record after the one that ends a block
};

Assorted assorted(bool bigEndian, bool nano) {
  Assorted a;
  PcapFile& f = a.file;
  f.bigEndian = bigEndian;
  f.nano = nano;
  f.snaplen = 262144;
  f.header();
  std::mt19937 rng(bigEndian * 2 + nano + 17);
  const std::uint32_t fractions = nano ? 1'000'000'000 : 1'000'000;
  std::size_t blockStart = f.bytes.size();
  auto record = [&](std::size_t caplen) {
    const std::size_t i = a.starts.size(), start = f.bytes.size();
    a.starts.push_back(start);
    // Some cut to a snapshot: longer on the wire than captured.
    const auto length = static_cast<std::uint32_t>(caplen + (rng() % 4 == 0 ? rng() % 3000 : 0));
    f.record(static_cast<std::uint32_t>(1'700'000'000 + i / 8),
             static_cast<std::uint32_t>(rng() % fractions), static_cast<std::uint32_t>(caplen),
             length, static_cast<int>(i));
    if (f.bytes.size() > blockStart + qs::BlockLender::kBlockSize) blockStart = start;
    return i;
  };
  // What is left of the block the next record starts in.
  auto left = [&] { return blockStart + qs::BlockLender::kBlockSize - f.bytes.size(); };
  int placed = 0;
  while (f.bytes.size() < (5 << 20)) {
    const std::size_t n = a.starts.size();
    if (placed == 0 && n >= 500 && left() >= 1000 && left() <= 200000) {
      a.largest = record(262144);
      ++placed;
    } else if (placed == 1 && n >= 1000 && left() >= 17 && left() <= 20000) {
      record(left() - 16);
      a.afterExactEnd = n + 1;
      ++placed;
    } else if (placed == 2 && n >= 1600 && left() >= 40 && left() <= 20000) {
      record(left() - 16 - 8);
      a.headerAcross = record(262143);
      ++placed;
    }
    const auto kind = rng() % 100;
    record(kind < 1    ? 0
           : kind < 70 ? 2 + rng() % 600
           : kind < 95 ? 600 + rng() % 3400
                       : 4000 + rng() % 40000);
  }
  EXPECT_EQ(placed, 3) << "records against a block end";
  return a;
}

}  // namespace lending

using lent_blocks = TempDir;

// Every frame of a file read into lent blocks is the frame read without them,
// and stays as it was handed out for as long as its block is out.
TEST_F(lent_blocks, frames_stay_where_they_were_read_until_their_block_goes_back) {
  using namespace lending;
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "big-endian, nanoseconds" : "little-endian, microseconds");
    const Assorted file = assorted(big, big);
    auto path = write("assorted.pcap", file.file.bytes);
    const Reading expected = reference(path);
    ASSERT_GT(expected.frames.size(), 2000u);
    ASSERT_EQ(expected.frames[file.largest].bytes.size(), 262144u);
    ASSERT_EQ(expected.frames[file.headerAcross].bytes.size(), 262143u);

    PoisoningLender lender;
    auto s = open(path);
    ASSERT_TRUE(s);
    s->lendBlocks(&lender);
    qs::Frame f;
    std::size_t i = 0;
    Next n;
    while ((n = s->next(f)) == Next::frame) {
      ASSERT_LT(i, expected.frames.size());
      expectSame(f, expected.frames[i], i);
      EXPECT_TRUE(lender.keep(f.bytes, expected.frames[i].bytes))
          << "frame " << i + 1 << " lies in no lent block";
      lender.checkKept();
      EXPECT_LE(lender.out(), 2u);
      // What the file was made for: these start a block of their own.
      if (i == file.largest || i == file.headerAcross || i == file.afterExactEnd) {
        EXPECT_EQ(f.bytes.data(), lender.holder(f.bytes) + 16)
            << "frame " << i + 1 << " was not read across a block end";
      }
      if (::testing::Test::HasFailure()) return;
      ++i;
    }
    EXPECT_EQ(i, expected.frames.size());
    EXPECT_EQ(n, Next::end);
    // More than 5 MiB in 1 MiB blocks: each renewal borrows one more.
    EXPECT_GE(lender.borrowed(), 6u);
    EXPECT_LE(lender.maxOut(), 2u);
    // The end is libpcap's to report: the block went back on the way.
    lender.expectAllBack();
  }
}

// Lending starts, stops and passes to another lender in the middle of a file:
// the reading goes on as without a lender, and a lender no longer used has
// every block back at once.
TEST_F(lent_blocks, lending_starts_stops_and_changes_lender_mid_file) {
  using namespace lending;
  const Assorted file = assorted(false, true);
  auto path = write("assorted.pcap", file.file.bytes);
  const Reading expected = reference(path);
  ASSERT_GT(expected.frames.size(), 2100u);
  const std::size_t largest = file.largest;
  // Before frame `at` (from 0) is read, the source is lent the blocks of
  // lender 1 or 2, or of none (0).
  struct Change {
    std::size_t at;
    int lender;
  };
  struct Case {
    std::string name;
    std::vector<Change> changes;
  };
  const std::vector<Case> cases = {
      {"lent, then taken back", {{0, 1}, {1234, 0}}},
      {"taken back before the first frame", {{0, 1}, {0, 0}}},
      {"lent from the middle on", {{1700, 1}}},
      {"taken back and lent again at once", {{0, 1}, {500, 0}, {500, 1}, {2000, 0}}},
      {"taken back, read a while without, lent again", {{0, 1}, {300, 0}, {1500, 1}}},
      {"passed to another lender and back", {{0, 1}, {1500, 2}, {2000, 1}}},
      {"around the largest record",
       {{0, 1}, {largest, 0}, {largest + 1, 2}, {largest + 2, 0}, {largest + 3, 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PoisoningLender lenders[3];  // [0]: none
    auto s = open(path);
    ASSERT_TRUE(s);
    int current = 0;
    std::size_t change = 0;
    qs::Frame f;
    for (std::size_t i = 0;; ++i) {
      for (; change < c.changes.size() && c.changes[change].at == i; ++change) {
        const int before = current;
        current = c.changes[change].lender;
        s->lendBlocks(current ? &lenders[current] : nullptr);
        if (before && before != current) {
          EXPECT_EQ(lenders[before].out(), 0u) << "blocks kept after frame " << i;
        }
      }
      const Next n = s->next(f);
      if (n != Next::frame) {
        EXPECT_EQ(n, Next::end);
        EXPECT_EQ(i, expected.frames.size());
        break;
      }
      ASSERT_LT(i, expected.frames.size());
      expectSame(f, expected.frames[i], i);
      if (current) {
        EXPECT_TRUE(lenders[current].keep(f.bytes, expected.frames[i].bytes))
            << "frame " << i + 1 << " lies in no lent block";
        lenders[current].checkKept();
      } else {
        for (const auto& l : lenders)
          EXPECT_FALSE(l.holder(f.bytes)) << "frame " << i + 1 << " lies in a lent block";
      }
      if (::testing::Test::HasFailure()) return;
    }
    for (const auto& l : lenders) {
      l.expectAllBack();
      EXPECT_LE(l.maxOut(), 2u);
    }
  }
}

// Where libpcap takes over (at a record cut by the end of the file, or one
// it reads as it is), the lent block goes back; the frames and the damage
// are those read without a lender.
TEST_F(lent_blocks, libpcap_takes_over_with_the_block_given_back) {
  using namespace lending;
  const Assorted file = assorted(false, false);
  const auto& starts = file.starts;
  ASSERT_GT(starts.size(), 2100u);
  struct Case {
    std::string name;
    std::string bytes;
    std::size_t inBlocks;  // the frames read before libpcap takes over
    Next last;
  };
  std::vector<Case> cases;
  const std::string& whole = file.file.bytes;
  cases.push_back({"cut in the largest record's data",
                   whole.substr(0, starts[file.largest] + 16 + 100000), file.largest,
                   Next::damaged});
  cases.push_back(
      {"cut in a record header", whole.substr(0, starts[2000] + 9), 2000, Next::damaged});
  cases.push_back({"cut in the last record's data", whole.substr(0, whole.size() - 1),
                   starts.size() - 1, Next::damaged});
  {
    // Captured longer than on the wire: libpcap's to read, then the rest.
    std::string odd = whole;
    odd[starts[1500] + 12] = 1;
    odd[starts[1500] + 13] = odd[starts[1500] + 14] = odd[starts[1500] + 15] = 0;
    cases.push_back({"a record libpcap reads as it is", odd, 1500, Next::end});
  }
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto path = write("odd" + std::to_string(n++) + ".pcap", c.bytes);
    const Reading expected = reference(path);
    ASSERT_EQ(expected.last, c.last);
    ASSERT_GE(expected.frames.size(), c.inBlocks);
    PoisoningLender lender;
    auto s = open(path);
    ASSERT_TRUE(s);
    s->lendBlocks(&lender);
    qs::Frame f;
    std::size_t i = 0, lent = 0;
    Next last;
    while ((last = s->next(f)) == Next::frame) {
      ASSERT_LT(i, expected.frames.size());
      expectSame(f, expected.frames[i], i);
      if (lender.keep(f.bytes, expected.frames[i].bytes)) {
        EXPECT_EQ(lent++, i) << "a frame in a lent block after libpcap took over";
      } else {
        EXPECT_EQ(lender.out(), 0u) << "libpcap reads frame " << i + 1 << " with a block out";
      }
      if (::testing::Test::HasFailure()) return;
      ++i;
    }
    EXPECT_EQ(i, expected.frames.size());
    EXPECT_EQ(lent, c.inBlocks);
    EXPECT_EQ(last, expected.last);
    EXPECT_EQ(s->damage(), expected.damage);
    EXPECT_GE(lender.borrowed(), 2u);
    lender.expectAllBack();
  }
}

// A source that goes while it reads into lent blocks gives them all back,
// wherever it stopped.
TEST_F(lent_blocks, a_source_destroyed_gives_every_block_back) {
  using namespace lending;
  const Assorted file = assorted(true, false);
  auto path = write("assorted.pcap", file.file.bytes);
  const Reading expected = reference(path);
  const std::size_t all = expected.frames.size();
  // Frames read before the source goes; all + 1: the end was read too.
  for (std::size_t read : {std::size_t{0}, std::size_t{1}, file.largest, file.largest + 1,
                           file.headerAcross + 1, all, all + 1}) {
    SCOPED_TRACE("after " + std::to_string(read) + " frames");
    PoisoningLender lender;
    auto s = open(path);
    ASSERT_TRUE(s);
    s->lendBlocks(&lender);
    qs::Frame f;
    for (std::size_t i = 0; i < read; ++i) {
      ASSERT_EQ(s->next(f), i < all ? Next::frame : Next::end);
      if (i < all) {
        expectSame(f, expected.frames[i], i);
        lender.keep(f.bytes, expected.frames[i].bytes);
      }
    }
    if (read >= 1 && read <= all) {
      EXPECT_GE(lender.out(), 1u);
    }
    s.reset();
    lender.expectAllBack();
  }
}
