// Reloads racing screenings and setters. Built and run under ThreadSanitizer
// too (label tsan): the rule set a screening reads is always one whole load,
// and a setter's write survives every load that races with it.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "QelScreeningSCCP.hpp"
#include "TempDir.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace {

// Every list field except deniedGOP, and every flag except defaultAllowTT:
// those two belong to the setter thread.
std::string configFile(char mark, bool flags, const char* allowCalling, const char* denyCalling) {
  const std::string m = std::string("\"") + mark + "\"";
  const std::string f = flags ? "true" : "false";
  std::string s = "[sccp-screening]\n";
  s += std::string("allow-calling-sccp-prefix-e164 = [\"") + allowCalling + "\", " + m + "]\n";
  s += std::string("deny-calling-sccp-prefix-e164 = [\"") + denyCalling + "\", " + m + "]\n";
  for (const char* key :
       {"allow-calling-sccp-prefix-e212", "allow-calling-sccp-prefix-e214",
        "allow-called-sccp-prefix-e164", "allow-called-sccp-prefix-e212",
        "allow-called-sccp-prefix-e214", "deny-calling-sccp-prefix-e212",
        "deny-calling-sccp-prefix-e214", "deny-called-sccp-prefix-e164",
        "deny-called-sccp-prefix-e212", "deny-called-sccp-prefix-e214", "allowed-fsm-imsi-prefix",
        "denied-fsm-imsi-prefix", "allowed-operation", "denied-operation",
        "allowed-global-operation", "allowed-tt", "denied-tt"}) {
    s += std::string(key) + " = [" + m + "]\n";
  }
  for (const char* key : {"default-allow-calling-sccp-address", "default-deny-calling-sccp-address",
                          "default-allow-called-sccp-address", "default-deny-called-sccp-address",
                          "default-deny-tt"}) {
    s += std::string(key) + " = " + f + "\n";
  }
  return s;
}

// 'A' or 'B' when every field of the set comes from that file, else '?'.
char markOf(const qel::RuleSet& r) {
  const PXListRef lists[] = {r._allowedCallingSccpPrefixE164,
                             r._allowedCallingSccpPrefixE212,
                             r._allowedCallingSccpPrefixE214,
                             r._allowedCalledSccpPrefixE164,
                             r._allowedCalledSccpPrefixE212,
                             r._allowedCalledSccpPrefixE214,
                             r._deniedCallingSccpPrefixE164,
                             r._deniedCallingSccpPrefixE212,
                             r._deniedCallingSccpPrefixE214,
                             r._deniedCalledSccpPrefixE164,
                             r._deniedCalledSccpPrefixE212,
                             r._deniedCalledSccpPrefixE214,
                             r._allowedFSM_IMSI_PREFIX,
                             r._deniedFSM_IMSI_PREFIX,
                             r._allowedOP,
                             r._deniedOP,
                             r._allowedGOP,
                             r._allowedTT,
                             r._deniedTT};
  std::set<std::string> marks;
  for (const auto& l : lists)
    marks.insert(l && !l->empty() && l->back().text() ? *l->back().text() : "?");
  const std::uint8_t flags[] = {r._defaultAllowCalling, r._defaultDenyCalling,
                                r._defaultAllowCalled, r._defaultDenyCalled, r._defaultDenyTT};
  std::set<std::uint8_t> flagValues(std::begin(flags), std::end(flags));
  if (marks.size() != 1 || flagValues.size() != 1) return '?';
  const char mark = marks.begin()->front();
  if (mark == 'A' && *flagValues.begin() == 1) return 'A';
  if (mark == 'B' && *flagValues.begin() == 0) return 'B';
  return '?';
}

PXSCCP_Packet samplePacket() {
  PXSCCP_Packet p;
  p.mutableCallingPartyAddress().setNai(4).setNpi(1).setAddress("491721234567");
  auto& called = p.mutableCalledPartyAddress();
  called.setNai(4).setNpi(1).setTt(0);
  called.setAddress("41790000000");
  return p;
}

TEST(ConfigReloadConcurrency, ScreeningsSeeWholeLoadsAndSettersAreNeverLost) {
  TempDir dir;
  const auto a = dir.write("a.toml", configFile('A', true, "49", "99"));
  const auto b = dir.write("b.toml", configFile('B', false, "99", "49"));
  const PXSCCP_Packet packet = samplePacket();

  // The verdicts a whole load can give, with either value of the setter's flag.
  std::set<PXSccpScreening_result> possible;
  for (const auto& file : {a, b}) {
    for (std::uint8_t flag : {0, 1}) {
      QelScreeningSCCP single;
      ASSERT_TRUE(single.init());
      single.loadConfigFromFile(file);
      single.setDefaultAllowTT(flag);
      possible.insert(single.screenSccpPacketInbound(&packet, nullptr));
    }
  }

  QelScreeningSCCP f;
  ASSERT_TRUE(f.init());
  f.loadConfigFromFile(a);
  ASSERT_EQ(markOf(*f.ruleSetCell().read()), 'A');

  constexpr int kReloads = 300;
  std::atomic<bool> done{false};
  std::atomic<int> torn{0}, strayVerdicts{0}, lostWrites{0}, screenings{0}, sawB{0};

  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    for (int i = 0; i < kReloads; ++i) {
      if (i % 3 == 2)
        f.reloadConfig();
      else
        f.loadConfigFromFile(i % 2 ? b : a);
    }
    done = true;
  });
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      while (!done) {
        const auto verdict = f.screenSccpPacketInbound(&packet, nullptr);
        if (!possible.contains(verdict)) ++strayVerdicts;
        const char mark = markOf(*f.ruleSetCell().read());
        if (mark == '?') ++torn;
        if (mark == 'B') ++sawB;
        ++screenings;
      }
    });
  }
  PXListRef lastSet;
  threads.emplace_back([&] {
    for (std::int64_t i = 0; !done; ++i) {
      auto mine = px::makeList({PXValue(i)});
      f.setDeniedGOP(mine);
      f.setDefaultAllowTT(static_cast<std::uint8_t>(i & 1));
      // Only this thread writes these two fields, so a load must never undo them.
      if (f.deniedGOP() != mine || f.defaultAllowTT() != (i & 1)) ++lostWrites;
      (void)f.config();
      lastSet = mine;
    }
  });
  for (auto& t : threads) t.join();

  EXPECT_EQ(torn.load(), 0) << "a screening saw parts of two loads";
  EXPECT_EQ(strayVerdicts.load(), 0);
  EXPECT_EQ(lostWrites.load(), 0);
  EXPECT_GT(screenings.load(), 0);
  // Not asserted (it depends on scheduling), only shown: how often the
  // screenings ran against the second file.
  RecordProperty("screenings", screenings.load());
  RecordProperty("screeningsUnderB", sawB.load());
  EXPECT_EQ(f.deniedGOP(), lastSet);
  EXPECT_NE(markOf(*f.ruleSetCell().read()), '?');
}

}  // namespace
