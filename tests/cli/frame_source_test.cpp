// Frame sources: hex lines, and the reasons an input is refused.
#include <gtest/gtest.h>
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
