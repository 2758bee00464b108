// Pieces of the operator's workflow: the frames that fed a reassembled
// message, pcapng blocks as written, and the summary's counting tables.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CaptureWriter.hpp"
#include "Sctp.hpp"
#include "Summary.hpp"

namespace {

namespace fs = std::filesystem;

qs::DataChunk chunk(std::uint8_t flags, std::uint32_t tsn, const std::vector<std::uint8_t>& data) {
  qs::DataChunk c;
  c.flags = flags;
  c.tsn = tsn;
  c.ppid = 3;
  c.userData = data;
  return c;
}

TEST(reassembled_message, names_its_frames_in_sequence_order) {
  qs::SctpReassembler r;
  qs::SkipCounts dropped;
  qs::SctpFlow flow;
  flow.srcPort = flow.dstPort = 2905;
  std::vector<std::uint8_t> a{1}, b{2}, c{3};
  // Frames 7 (last), 9 (first), 9 again (a copy), 12 (middle).
  EXPECT_EQ(r.add(flow, chunk(qs::kFlagEnd, 12, c), dropped, 7).skip, qs::Skip::sctpFragment);
  EXPECT_EQ(r.add(flow, chunk(qs::kFlagBegin, 10, a), dropped, 9).skip, qs::Skip::sctpFragment);
  EXPECT_EQ(r.add(flow, chunk(qs::kFlagBegin, 10, a), dropped, 9).skip, qs::Skip::sctpDuplicate);
  auto done = r.add(flow, chunk(0, 11, b), dropped, 12);
  ASSERT_EQ(done.skip, qs::Skip::none);
  EXPECT_EQ(std::vector<std::uint64_t>(done.frames.begin(), done.frames.end()),
            (std::vector<std::uint64_t>{9, 12, 7}));
}

std::uint32_t u32(const std::string& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

TEST(pcapng_writer, writes_blocks_that_frame_each_other_with_comments) {
  auto path = fs::temp_directory_path() / ("qel-writer-" + std::to_string(::getpid()) + ".pcapng");
  std::string error;
  auto w = qs::CaptureWriter::open(path.string(), 1, false, error);
  ASSERT_TRUE(w) << error;
  std::vector<std::uint8_t> bytes{1, 2, 3, 4, 5};  // padded to 8 in the block
  qs::Frame f;
  f.bytes = bytes;
  f.number = 3;
  f.timeNs = 1700000000123456789;
  f.originalLength = 60;
  w->beginFrame(1, f);
  w->select({}, "message 0: explicitlyDenied");
  w->endFrame(false);
  w->beginFrame(1, f);  // not selected: not written
  w->endFrame(false);
  ASSERT_TRUE(w->close()) << w->error();
  EXPECT_EQ(w->framesWritten(), 1u);

  std::ifstream in(path, std::ios::binary);
  std::string b((std::istreambuf_iterator<char>(in)), {});
  fs::remove(path);
  std::vector<std::uint32_t> types;
  std::size_t at = 0;
  while (at + 12 <= b.size()) {
    std::uint32_t length = u32(b, at + 4);
    ASSERT_EQ(length % 4, 0u);
    ASSERT_LE(at + length, b.size());
    EXPECT_EQ(u32(b, at + length - 4), length) << "trailing length";
    types.push_back(u32(b, at));
    if (u32(b, at) == 6) {
      std::uint64_t ts = (std::uint64_t{u32(b, at + 12)} << 32) | u32(b, at + 16);
      EXPECT_EQ(ts, 1700000000123456789ull);
      EXPECT_EQ(u32(b, at + 20), 5u);
      EXPECT_EQ(u32(b, at + 24), 60u);
      EXPECT_NE(b.find("message 0: explicitlyDenied", at), std::string::npos);
    }
    at += length;
  }
  EXPECT_EQ(at, b.size());
  EXPECT_EQ(types, (std::vector<std::uint32_t>{0x0A0D0D0A, 1, 6}));
}

TEST(summary_tally, counts_verdicts_and_undecodable_reasons) {
  qs::Tally t(5);
  PXSCCP_Packet p;
  // Without a calling GT nothing is counted by prefix, but the verdict is.
  t.add(&p, PXSccpScreening_explicitlyDenied, nullptr, std::nullopt);
  t.add(nullptr, std::nullopt, nullptr, std::string_view("badPointer"));
  EXPECT_EQ(t.verdicts()[qs::slotOf(PXSccpScreening_explicitlyDenied)], 1u);
  EXPECT_EQ(t.verdicts()[qs::Tally::kNotScreened], 1u);
  std::string json;
  t.appendJson(json);
  EXPECT_NE(json.find("\"undecodable\":{\"badPointer\":1}"), std::string::npos) << json;
  EXPECT_NE(json.find("\"calling_prefixes\":[]"), std::string::npos) << json;
}

}  // namespace
