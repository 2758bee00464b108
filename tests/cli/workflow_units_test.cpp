// Pieces of the operator's workflow: the frames that fed a reassembled
// message, pcapng blocks as written, and the summary's counting tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <string_view>
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

// A UDT from calling GT `digits` (E.164, decimal) to a home GT, with a TCAP
// Begin.
std::vector<std::uint8_t> udtFrom(const std::string& digits) {
  const bool odd = digits.size() % 2;
  std::vector<std::uint8_t> calling{0x12, 0x08, 0x00, odd ? std::uint8_t{0x11} : std::uint8_t{0x12},
                                    0x04};
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const int high = i + 1 < digits.size() ? digits[i + 1] - '0' : 0;
    calling.push_back(static_cast<std::uint8_t>((digits[i] - '0') | high << 4));
  }
  const std::vector<std::uint8_t> called{0x12, 0x06, 0x00, 0x12, 0x04, 0x82,
                                         0x79, 0x09, 0x10, 0x23, 0x71};
  const std::vector<std::uint8_t> tcap{0x62, 0x10, 0x48, 0x04, 0x01, 0x02, 0x03, 0x04, 0x6c,
                                       0x08, 0xa1, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x2d};
  std::vector<std::uint8_t> m{0x09, 0x00, 3, 0, 0};
  m[3] = static_cast<std::uint8_t>(2 + called.size() + 1);
  m[4] = static_cast<std::uint8_t>(1 + called.size() + 1 + calling.size() + 1);
  for (const std::vector<std::uint8_t>* part :
       std::initializer_list<const std::vector<std::uint8_t>*>{&called, &calling, &tcap}) {
    m.push_back(static_cast<std::uint8_t>(part->size()));
    m.insert(m.end(), part->begin(), part->end());
  }
  return m;
}

// The pipeline's workers count into tallies of their own, leaving prefixes
// to the writer stage, which counts them in capture order: merged, they give
// the summary of one tally that saw every message, past the prefix bound too.
TEST(summary_tally, merged_worker_tallies_sum_to_the_single_tally) {
  constexpr std::size_t kMessages = qs::Tally::kMaxPrefixes * 3 / 2 + 5000;
  const std::int32_t verdicts[] = {PXSccpScreening_explicitlyPermitted,
                                   PXSccpScreening_explicitlyDenied,
                                   PXSccpScreening_implicitlyDenied};
  qs::Tally single(6), whole(6);
  qs::Tally workers[2] = {qs::Tally(6), qs::Tally(6)};
  for (auto& w : workers) w.leavePrefixes();
  PXSCCP_Packet p;
  for (std::size_t n = 0; n < kMessages; ++n) {
    // Distinct 6-digit prefixes, some met again later.
    std::string digits = std::to_string(100000 + (n % 3 == 2 ? n / 7 : n)).substr(0, 6) + "000000";
    ASSERT_EQ(p.decode(udtFrom(digits)), px::SccpDecodeError::none) << digits;
    auto v = verdicts[n % 3];
    std::optional<std::string_view> error;
    if (n % 1000 == 0) error = "damagedTcap";
    single.add(&p, v, nullptr, error);
    // Batches of 100 go to one worker or the other.
    qs::Tally& w = workers[(n / 100) % 2];
    w.add(&p, v, nullptr, error);
    whole.addPrefix(w.takePrefix());
  }
  for (const auto& w : workers) whole.merge(w);
  std::string a, b;
  single.appendJson(a);
  whole.appendJson(b);
  EXPECT_TRUE(a == b) << "the merged summary differs";
  EXPECT_NE(b.find("\"calling_prefixes_not_kept\":{\""), std::string::npos);
  EXPECT_EQ(single.topText("denied", true), whole.topText("denied", true));
}

// The text summary's top ten of thousands of prefixes, many tied, are the
// first ten of the full ranking that --summary json gives: most counted
// first, ties by prefix.
TEST(summary_tally, top_ten_prefixes_are_the_first_ten_of_the_full_ranking) {
  qs::Tally t(6);
  PXSCCP_Packet p;
  std::mt19937 rng(7);
  for (int n = 0; n < 40000; ++n) {
    // A few thousand prefixes, counts from 1 to a dozen or so: ties everywhere.
    const std::string digits = std::to_string(100000 + rng() % 3000) + "000000";
    ASSERT_EQ(p.decode(udtFrom(digits)), px::SccpDecodeError::none) << digits;
    t.add(&p, PXSccpScreening_explicitlyDenied, nullptr, std::nullopt);
  }
  std::string json;
  t.appendJson(json);
  std::string expected = "  top denied calling prefixes (6 digits):";
  std::size_t at = json.find("\"calling_prefixes\":[");
  ASSERT_NE(at, std::string::npos);
  for (int i = 0; i < 10; ++i) {
    at = json.find("{\"prefix\":\"", at) + 11;
    const std::string prefix = json.substr(at, json.find('"', at) - at);
    at = json.find("\"total\":", at) + 8;
    const std::string count = json.substr(at, json.find(',', at) - at);
    expected += (i ? ", " : " ") + prefix + " (" + count + ")";
  }
  const std::string text = t.topText("denied", true);
  const std::size_t line = text.find("  top denied calling prefixes");
  ASSERT_NE(line, std::string::npos) << text;
  EXPECT_EQ(text.substr(line, text.find('\n', line) - line), expected);
}

// Prefixes of every length the summary counts pack into distinct keys and
// read back as they were; a 15-digit prefix used to wrap the length nibble.
TEST(summary_tally, prefix_keys_read_back_at_every_length) {
  std::vector<std::string> prefixes;
  for (std::size_t n = 0; n <= qs::Tally::kMaxPrefixDigits; ++n) {
    prefixes.push_back(std::string(n, '0'));
    prefixes.push_back(std::string(n, 'f'));
    prefixes.push_back(std::string("123456789abcdef0").substr(0, n));
  }
  std::vector<std::uint64_t> keys;
  for (const auto& p : prefixes) {
    SCOPED_TRACE(p);
    const std::uint64_t key = qs::prefixKey(p);
    EXPECT_NE(key, qs::kNoPrefix);
    EXPECT_EQ(qs::prefixText(key), p);
    keys.push_back(key);
  }
  std::sort(keys.begin(), keys.end());
  // Only the empty prefix repeats (three times).
  EXPECT_EQ(std::unique(keys.begin(), keys.end()) - keys.begin(),
            static_cast<std::ptrdiff_t>(prefixes.size() - 2));
}

TEST(summary_tally, counts_fifteen_digit_prefixes) {
  qs::Tally t(15);
  PXSCCP_Packet p;
  ASSERT_EQ(p.decode(udtFrom("1234567890123456")), px::SccpDecodeError::none);
  t.add(&p, PXSccpScreening_explicitlyDenied, nullptr, std::nullopt);
  std::string json;
  t.appendJson(json);
  EXPECT_NE(json.find("\"prefix\":\"123456789012345\""), std::string::npos) << json;
  EXPECT_NE(t.topText("denied", true).find("123456789012345 (1)"), std::string::npos);
}

// A message's prefix is cut from its calling digits, which may be shorter or
// longer than the prefix length and than the eight digits read as one word.
TEST(summary_tally, counts_the_first_digits_whatever_their_number) {
  const std::string digits = "2897012345678901";
  for (unsigned length = 0; length <= qs::Tally::kMaxPrefixDigits; ++length)
    for (std::size_t count = 1; count <= digits.size(); ++count) {
      SCOPED_TRACE(testing::Message() << length << " of " << count);
      qs::Tally t(length);
      // Two numbers that differ only past the prefix count as one prefix.
      std::string other = digits.substr(0, count);
      if (count > length) other[length] = other[length] == '9' ? '8' : '9';
      for (const std::string& number : {digits.substr(0, count), other}) {
        PXSCCP_Packet p;
        ASSERT_EQ(p.decode(udtFrom(number)), px::SccpDecodeError::none);
        t.add(&p, PXSccpScreening_explicitlyDenied, nullptr, std::nullopt);
      }
      std::string json;
      t.appendJson(json);
      const std::string expected = digits.substr(0, std::min<std::size_t>(length, count));
      EXPECT_NE(json.find("\"prefix\":\"" + expected + "\",\"total\":2"), std::string::npos)
          << json;
    }
}

}  // namespace
