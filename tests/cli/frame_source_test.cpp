// Frame sources: hex lines, pcap records, and the reasons an input is refused.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

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
