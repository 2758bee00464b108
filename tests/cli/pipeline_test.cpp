// The --threads pipeline run in-process, so that ThreadSanitizer watches its
// reader, workers and writer: several workers and small batches write what
// one thread writes, records, summary and --write capture alike.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "Run.hpp"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

void put32le(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
}

// An XUDT from a partner's calling GT to a home called GT, with a
// segmentation parameter.
Bytes xudt(const Bytes& data, bool first, unsigned remaining, unsigned ref, unsigned caller) {
  const Bytes called{0x12, 0x06, 0x00, 0x12, 0x04, 0x82, 0x79, 0x09, 0x10, 0x23, 0x71};
  const Bytes calling{0x12,
                      0x08,
                      0x00,
                      0x12,
                      0x04,
                      0x82,
                      0x15,
                      0x00,
                      0x62,
                      0x90,
                      static_cast<std::uint8_t>(0x87 + caller)};
  Bytes m{0x11, 0x00, 0x0F, 0, 0, 0, 0};
  std::size_t i = 3;
  for (const Bytes* part : {&called, &calling, &data}) {
    m[i] = static_cast<std::uint8_t>(m.size() - i);
    m.push_back(static_cast<std::uint8_t>(part->size()));
    m.insert(m.end(), part->begin(), part->end());
    ++i;
  }
  m[6] = static_cast<std::uint8_t>(m.size() - 6);
  for (unsigned b :
       {0x10u, 4u, (first ? 0x80u : 0u) | remaining, ref & 0xFF, (ref >> 8) & 0xFF, ref >> 16, 0u})
    m.push_back(static_cast<std::uint8_t>(b));
  return m;
}

// Segmented Begins of three callers, a second apart: joined, left waiting
// past the age limit, and later segments alone.
void writeSegmented(const fs::path& path) {
  const Bytes begin{0x62, 0x18, 0x48, 0x04, 0x01, 0x02, 0x03, 0x04, 0x6c, 0x10, 0xa1, 0x06, 0x02,
                    0x01, 0x01, 0x02, 0x01, 0x2d, 0xa1, 0x06, 0x02, 0x01, 0x02, 0x02, 0x01, 0x47};
  const Bytes head(begin.begin(), begin.begin() + 10), tail(begin.begin() + 10, begin.end());
  std::vector<Bytes> messages;
  for (unsigned n = 1; n <= 600; ++n) {
    unsigned caller = n % 3;
    switch (n % 5) {
      case 0:
        messages.push_back(xudt(head, true, 1, n, caller));
        messages.push_back(xudt(tail, false, 0, n, caller));
        break;
      case 1:
        messages.push_back(xudt(head, true, 1, n, caller));  // times out
        break;
      case 2:
        messages.push_back(xudt(tail, false, 0, n, caller));  // alone
        break;
      case 3:
        messages.push_back(xudt(head, true, 1, n, caller));
        messages.push_back(xudt(begin, true, 0, n + 1000, caller));
        messages.push_back(xudt(tail, false, 0, n, caller));
        break;
      default:
        messages.push_back(xudt(begin, true, 0, n, caller));
    }
  }
  std::string file;
  for (std::uint32_t v : {0xA1B2C3D4u, 0x00040002u, 0u, 0u, 65535u, 142u}) put32le(file, v);
  std::uint32_t second = 1700000000;
  for (const auto& m : messages) {
    for (std::uint32_t v : {second++, 250u, static_cast<std::uint32_t>(m.size()),
                            static_cast<std::uint32_t>(m.size())})
      put32le(file, v);
    file.append(m.begin(), m.end());
  }
  std::ofstream(path, std::ios::binary) << file;
}

struct Outcome {
  int status = -1;
  std::string records, summary, written;
};

class Pipeline : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("qel-pipeline-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    generated = dir / "gen.pcap";
    std::string cmd = std::string(QEL_BINARY_DIR) + "/bin/sample-gen -o " + generated.string() +
                      " --count 3000 --seed 4 > /dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    segmented = dir / "seg.pcap";
    writeSegmented(segmented);
  }
  void TearDown() override {
    ::unsetenv("QEL_SCREEN_BATCH");
    fs::remove_all(dir);
  }

  // Runs `screen` (or `diff` with `diff`) with standard output in a file.
  Outcome run(qs::RunOptions o, unsigned threads, const char* batch,
              const qs::DiffOptions* diff = nullptr) {
    if (batch)
      ::setenv("QEL_SCREEN_BATCH", batch, 1);
    else
      ::unsetenv("QEL_SCREEN_BATCH");
    o.threads = threads;
    o.plugin = QEL_PLUGIN_PATH;
    o.summaryFile = (dir / "summary").string();
    if (!diff) o.write = (dir / "written.pcapng").string();
    const auto out = dir / "records";
    std::fflush(stdout);
    int saved = ::dup(STDOUT_FILENO);
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDOUT_FILENO);
    Outcome r;
    if (diff) {
      qs::DiffOptions d = *diff;
      d.run = o;
      r.status = qs::runDiff(d);
    } else {
      r.status = qs::runScreen(o);
    }
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(fd);
    r.records = slurp(out);
    static const std::regex elapsed(R"(("elapsed_s":|"messages_per_s":)[0-9.]+)");
    r.summary = std::regex_replace(slurp(o.summaryFile), elapsed, "$1T");
    if (!diff) r.written = slurp(o.write);
    return r;
  }

  qs::RunOptions options() const {
    qs::RunOptions o;
    o.captures = {generated.string(), segmented.string(), QEL_SOURCE_DIR "/examples/sample.pcap"};
    o.config = QEL_SOURCE_DIR "/examples/screening.toml";
    o.format = qs::Format::jsonl;
    o.summaryFormat = qs::SummaryFormat::json;
    return o;
  }

  fs::path dir, generated, segmented;
};

void expectSame(const Outcome& one, const Outcome& many) {
  EXPECT_EQ(many.status, one.status);
  EXPECT_TRUE(many.records == one.records) << "records differ";
  EXPECT_EQ(many.summary, one.summary);
  EXPECT_TRUE(many.written == one.written) << "--write capture differs";
}

TEST_F(Pipeline, writes_what_one_thread_writes_with_explanations_and_selected_frames) {
  auto o = options();
  o.explain = true;
  Outcome one = run(o, 1, nullptr);
  ASSERT_EQ(one.status, 0) << one.summary;
  ASSERT_GT(one.records.size(), 1000u);
  ASSERT_GT(one.written.size(), 1000u);
  expectSame(one, run(o, 4, nullptr));
  expectSame(one, run(o, 3, "2"));
}

TEST_F(Pipeline, writes_only_the_selected_records_and_the_text_table) {
  auto o = options();
  o.format = qs::Format::text;
  std::string bad;
  o.only = *qs::Selection::parse({"denied", "undecodable"}, bad);
  Outcome one = run(o, 1, nullptr);
  ASSERT_EQ(one.status, 0) << one.summary;
  expectSame(one, run(o, 4, "5"));
}

TEST_F(Pipeline, compares_two_rule_sets_as_one_thread_does) {
  qs::DiffOptions d;
  d.oldConfig = QEL_SOURCE_DIR "/examples/screening.toml";
  d.newConfig = (dir / "new.toml").string();
  std::string rules = slurp(d.oldConfig);
  // Partner 28512 no longer let through.
  const std::string partners = R"(["28979", "28512", "882", "883"])";
  auto at = rules.find(partners);
  ASSERT_NE(at, std::string::npos);
  rules.replace(at, partners.size(), R"(["28979", "882", "883"])");
  std::ofstream(d.newConfig) << rules;
  auto o = options();
  Outcome one = run(o, 1, nullptr, &d);
  ASSERT_EQ(one.status, 1) << one.summary;
  expectSame(one, run(o, 4, "3", &d));
}

}  // namespace
