// Loading the filter's rules from its configuration file, and the reload report.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "QelScreeningSCCP.hpp"
#include "RuleFields.hpp"
#include "TempDir.hpp"
#include "px/Config.hpp"

namespace {

using configtest::F;
using configtest::Field;
using configtest::kFields;
using configtest::Rule;

// Every field of a filter, lists by identity.
struct State {
  std::array<PXListRef, 26> lists{};
  std::array<std::uint8_t, 26> flags{};
  friend bool operator==(const State&, const State&) = default;
};

State stateOf(const F& f) {
  State s;
  for (std::size_t i = 0; i < kFields.size(); ++i) {
    if (kFields[i].getList)
      s.lists[i] = (f.*kFields[i].getList)();
    else
      s.flags[i] = (f.*kFields[i].getFlag)();
  }
  return s;
}

// Gives every list a distinct one-element list and every flag the byte 2, so
// that an untouched field is recognisable.
State setSentinels(F& f) {
  for (std::size_t i = 0; i < kFields.size(); ++i) {
    if (kFields[i].setList)
      (f.*kFields[i].setList)(px::makeList({"sentinel-" + std::to_string(i)}));
    else
      (f.*kFields[i].setFlag)(2);
  }
  return stateOf(f);
}

std::string reportConfig(const PXErrorRef& report) {
  if (!report) return "<no report>";
  const PXValue* v = report->userInfo().find("config");
  return v && v->text() ? *v->text() : "<no config text>";
}

void expectReportShape(const PXErrorRef& report) {
  ASSERT_TRUE(report);
  EXPECT_EQ(report->domain(), "QEL-SCCP-SCREENING");
  EXPECT_EQ(report->code(), 0);
  EXPECT_EQ(report->userInfo().size(), 1u);
  const PXValue* config = report->userInfo().find("config");
  ASSERT_TRUE(config);
  EXPECT_TRUE(config->isText());
}

std::string group(std::string_view body) {
  return "[sccp-screening]\n" + std::string(body) + "\n";
}

// ---------------------------------------------------------------------------
// The three rules, every kind of value, every key.

enum class Outcome { unchanged, wrapped, same, truthy, falsy };

struct KindCase {
  const char* name;
  const char* toml;
  Outcome prefix, number, flag;
};

using O = Outcome;
const KindCase kKinds[] = {
    {"digit text", R"("4179")", O::wrapped, O::unchanged, O::truthy},
    {"text with commas and blanks", R"(" 4179, 4176 ")", O::wrapped, O::unchanged, O::truthy},
    {"word text no", R"("no")", O::wrapped, O::unchanged, O::falsy},
    {"empty text", R"("")", O::wrapped, O::unchanged, O::falsy},
    {"integer", "5", O::unchanged, O::wrapped, O::truthy},
    {"integer zero", "0", O::unchanged, O::wrapped, O::falsy},
    {"negative integer", "-3", O::unchanged, O::wrapped, O::truthy},
    {"float", "0.5", O::unchanged, O::wrapped, O::truthy},
    {"float zero", "0.0", O::unchanged, O::wrapped, O::falsy},
    {"negative float zero", "-0.0", O::unchanged, O::wrapped, O::falsy},
    {"not a number", "nan", O::unchanged, O::wrapped, O::truthy},
    {"boolean true", "true", O::unchanged, O::wrapped, O::truthy},
    {"boolean false", "false", O::unchanged, O::wrapped, O::falsy},
    {"list of texts", R"(["49", "44"])", O::same, O::same, O::truthy},
    {"list of numbers starting 0", "[0, 1]", O::same, O::same, O::falsy},
    {"list starting with false", "[false, true]", O::same, O::same, O::falsy},
    {"list starting with text no", R"(["no", 1])", O::same, O::same, O::falsy},
    {"empty list", "[]", O::same, O::same, O::unchanged},
    {"nested list first", "[[1], 1]", O::same, O::same, O::unchanged},
    {"inline table first", "[{ a = 1 }, 1]", O::same, O::same, O::unchanged},
    {"date first", "[1979-05-27, 1]", O::same, O::same, O::unchanged},
    {"inline table", "{ a = 1 }", O::unchanged, O::unchanged, O::unchanged},
    {"date", "1979-05-27", O::unchanged, O::unchanged, O::unchanged},
    {"time", "07:32:00", O::unchanged, O::unchanged, O::unchanged},
    {"date-time", "1979-05-27T07:32:00Z", O::unchanged, O::unchanged, O::unchanged},
};

TEST(ConfigRules, EveryKeyAcceptsItsKindsAndLeavesTheRest) {
  TempDir dir;
  for (std::size_t i = 0; i < kFields.size(); ++i) {
    const Field& field = kFields[i];
    for (const KindCase& kind : kKinds) {
      SCOPED_TRACE(std::string(field.key) + " = " + kind.toml + " (" + kind.name + ")");
      const auto path = dir.write("rule.toml", group(std::string(field.key) + " = " + kind.toml));
      F f;
      ASSERT_TRUE(f.init());
      const State before = setSentinels(f);
      const auto report = f.loadConfigFromFile(path);
      expectReportShape(report);
      const PXDictionaryRef g = f.config();
      ASSERT_TRUE(g);
      const PXValue* value = g->find(field.key);
      ASSERT_TRUE(value);

      State expected = before;
      const Outcome outcome = field.rule == Rule::prefix   ? kind.prefix
                              : field.rule == Rule::number ? kind.number
                                                           : kind.flag;
      const State after = stateOf(f);
      switch (outcome) {
        case O::unchanged:
          break;
        case O::same:
          expected.lists[i] = value->list();
          ASSERT_TRUE(after.lists[i]);
          EXPECT_EQ(after.lists[i].get(), value->list().get()) << "the group's own list";
          break;
        case O::wrapped:
          ASSERT_TRUE(after.lists[i]);
          ASSERT_EQ(after.lists[i]->size(), 1u);
          EXPECT_EQ(px::jsonValue(after.lists[i]->front()), px::jsonValue(*value));
          EXPECT_EQ(after.lists[i]->front().isText(), value->isText());
          EXPECT_EQ(after.lists[i]->front().isInteger(), value->isInteger());
          expected.lists[i] = after.lists[i];
          break;
        case O::truthy:
          expected.flags[i] = 1;
          break;
        case O::falsy:
          expected.flags[i] = 0;
          break;
      }
      EXPECT_TRUE(after == expected) << "only the key's own field changes, as the rule says";
    }
  }
}

TEST(ConfigRules, TruthValueOfTexts) {
  struct Case {
    const char* toml;
    std::uint8_t expected;
  };
  const Case cases[] = {
      {R"("yes")", 1},      {R"("no")", 0},     {R"("0")", 0},    {R"("000")", 0},
      {R"("+1")", 1},       {R"("-0")", 0},     {R"(" T")", 1},   {R"("")", 0},
      {R"("false")", 0},    {R"("on")", 0},     {R"("true")", 1}, {R"("Y")", 1},
      {R"("t")", 1},        {R"("007")", 1},    {R"("-9")", 1},   {R"("0-+ 0y")", 1},
      {R"("\t\n\r 1")", 1}, {R"("0x1")", 0},    {R"("  ")", 0},   {R"("N")", 0},
      {R"("F")", 0},        {R"("ja")", 0},     {R"("1.0")", 1},  {R"(".5")", 0},
      {R"("\u00a01")", 0},  {R"("ＹＥＳ")", 0},
  };
  TempDir dir;
  for (const auto& c : cases) {
    for (std::uint8_t start : {std::uint8_t{0}, std::uint8_t{2}}) {
      F f;
      ASSERT_TRUE(f.init());
      f.setDefaultDenyCalled(start);
      f.loadConfigFromFile(
          dir.write("t.toml", group(std::string("default-deny-called-sccp-address = ") + c.toml)));
      EXPECT_EQ(f.defaultDenyCalled(), c.expected) << c.toml << " starting from " << int(start);
      // The same text as the first element of a list.
      f.setDefaultDenyCalled(start);
      f.loadConfigFromFile(dir.write(
          "t.toml",
          group(std::string("default-deny-called-sccp-address = [") + c.toml + ", \"yes\", 0]")));
      EXPECT_EQ(f.defaultDenyCalled(), c.expected) << "[" << c.toml << ", ...]";
    }
  }
}

TEST(ConfigRules, AllowAndDenyOfOnePlanAreIndependentLists) {
  TempDir dir;
  F f;
  ASSERT_TRUE(f.init());
  f.loadConfigFromFile(dir.write("c.toml", group(R"(allow-calling-sccp-prefix-e164 = ["41"]
deny-calling-sccp-prefix-e164 = ["41"]
allowed-tt = [0]
denied-tt = [0])")));
  ASSERT_TRUE(f.allowedCallingSccpPrefixE164() && f.deniedCallingSccpPrefixE164());
  EXPECT_NE(f.allowedCallingSccpPrefixE164(), f.deniedCallingSccpPrefixE164());
  EXPECT_NE(f.allowedTT(), f.deniedTT());
  EXPECT_FALSE(f.allowedCalledSccpPrefixE164());
}

TEST(ConfigRules, KeysAreMatchedExactly) {
  TempDir dir;
  F f;
  ASSERT_TRUE(f.init());
  const State before = setSentinels(f);
  f.loadConfigFromFile(dir.write("c.toml", group(R"(Allowed-TT = [1]
allowed_tt = [1]
"allowed-tt " = [1]
allow-tt = [1]
allowed-calling-sccp-prefix-e164 = "1"
deny-fsm-imsi-prefix = "1"
default-allow-TT = true)")));
  EXPECT_TRUE(stateOf(f) == before);
}

// ---------------------------------------------------------------------------
// Loads over time.

const char* kAllKeys = R"(allow-calling-sccp-prefix-e164 = ["41"]
allow-calling-sccp-prefix-e212 = ["228"]
allow-calling-sccp-prefix-e214 = ["4179"]
allow-called-sccp-prefix-e164 = ["4179"]
allow-called-sccp-prefix-e212 = ["22801"]
allow-called-sccp-prefix-e214 = ["417"]
deny-calling-sccp-prefix-e164 = "882"
deny-calling-sccp-prefix-e212 = ["001"]
deny-calling-sccp-prefix-e214 = ["99"]
deny-called-sccp-prefix-e164 = ["883"]
deny-called-sccp-prefix-e212 = ["002"]
deny-called-sccp-prefix-e214 = ["98"]
allowed-fsm-imsi-prefix = ["22801"]
denied-fsm-imsi-prefix = ["22899"]
allowed-operation = [44, 46]
denied-operation = 71
allowed-global-operation = []
denied-global-operation = ["7"]
allowed-tt = [0]
denied-tt = [10, 11]
default-allow-calling-sccp-address = true
default-deny-calling-sccp-address = "yes"
default-allow-called-sccp-address = 1
default-deny-called-sccp-address = [true]
default-allow-tt = "T"
default-deny-tt = 2.5)";

TEST(ConfigLoads, RemovedKeysKeepWhatAnEarlierLoadGave) {
  TempDir dir;
  const auto path = dir.write("c.toml", group(kAllKeys));
  F f;
  ASSERT_TRUE(f.init());
  f.loadConfigFromFile(path);
  const State loaded = stateOf(f);
  for (std::size_t i = 0; i < kFields.size(); ++i) {
    if (kFields[i].getList)
      EXPECT_TRUE(loaded.lists[i]) << kFields[i].key;
    else
      EXPECT_EQ(loaded.flags[i], 1) << kFields[i].key;
  }

  dir.write("c.toml", group("# every key removed"));
  const auto report = f.reloadConfig();
  expectReportShape(report);
  EXPECT_EQ(reportConfig(report), "{}");
  EXPECT_TRUE(stateOf(f) == loaded);
  ASSERT_TRUE(f.config());
  EXPECT_TRUE(f.config()->empty());

  dir.write("c.toml", group("default-deny-tt = false\ndenied-tt = 12"));
  f.reloadConfig();
  State expected = loaded;
  expected.flags[25] = 0;
  expected.lists[19] = f.deniedTT();
  EXPECT_TRUE(stateOf(f) == expected);
  ASSERT_EQ(f.deniedTT()->size(), 1u);
  EXPECT_EQ(*f.deniedTT()->front().integer(), 12);
  EXPECT_EQ(f.defaultDenyTT(), 0);
}

TEST(ConfigLoads, ASecondFileNameIsReadByLaterReloads) {
  TempDir dir;
  const auto a = dir.write("a.toml", group("allowed-tt = 1"));
  const auto b = dir.write("b.toml", group("allowed-tt = 2"));
  F f;
  ASSERT_TRUE(f.init());
  f.loadConfigFromFile(a);
  EXPECT_EQ(*f.allowedTT()->front().integer(), 1);
  const auto report = f.loadConfigFromFile(b);
  expectReportShape(report);
  EXPECT_EQ(reportConfig(report), R"({"allowed-tt":2})");
  EXPECT_EQ(*f.allowedTT()->front().integer(), 2);

  dir.write("b.toml", group("allowed-tt = 3"));
  dir.write("a.toml", group("allowed-tt = 4"));
  f.reloadConfig();
  EXPECT_EQ(*f.allowedTT()->front().integer(), 3);
}

TEST(ConfigLoads, AListIsStoredAsTheGroupsOwnObject) {
  TempDir dir;
  F f;
  ASSERT_TRUE(f.init());
  f.loadConfigFromFile(dir.write("c.toml", group(kAllKeys)));
  const PXDictionaryRef g = f.config();
  ASSERT_TRUE(g);
  for (const Field& field : kFields) {
    if (!field.getList) continue;
    const PXValue* v = g->find(field.key);
    ASSERT_TRUE(v);
    if (v->isList())
      EXPECT_EQ((f.*field.getList)().get(), v->list().get()) << field.key;
    else
      EXPECT_EQ((f.*field.getList)()->size(), 1u) << field.key;
  }
}

TEST(ConfigLoads, ReloadBeforeAnyFileNameChangesNothing) {
  F f;
  ASSERT_TRUE(f.init());
  const State fresh = stateOf(f);
  auto report = f.reloadConfig();
  expectReportShape(report);
  EXPECT_EQ(reportConfig(report), "null");
  EXPECT_TRUE(stateOf(f) == fresh);
  EXPECT_FALSE(f.config());

  const State sentinels = setSentinels(f);
  report = f.reloadConfig();
  expectReportShape(report);
  EXPECT_TRUE(stateOf(f) == sentinels);
}

TEST(ConfigLoads, AFileThatCannotBeReadChangesNoRule) {
  TempDir dir;
  const auto good = dir.write("good.toml", group(kAllKeys));
  struct Case {
    const char* name;
    std::string path;
  };
  const std::vector<Case> cases = {
      {"missing file", (dir.path() / "missing.toml").string()},
      {"directory", dir.path().string()},
      {"syntax error", dir.write("bad.toml", group("allowed-tt = [1,\n"))},
      {"syntax error late in the file",
       dir.write("late.toml", group(std::string(kAllKeys) + "\nallowed-tt = [9]"))},
      {"invalid UTF-8", dir.write("utf8.toml", group("deny-called-sccp-prefix-e164 = \"\xC3\"\n"))},
      {"group is an array of tables",
       dir.write("array.toml", "[[sccp-screening]]\nallowed-tt = [9]\n")},
      {"group is a key", dir.write("key.toml", "sccp-screening = [9]\n")},
      {"only the other group", dir.write("mtp3.toml", "[mtp3-screening]\nallowed-tt = [9]\n")},
  };
  for (const auto& c : cases) {
    F f;
    ASSERT_TRUE(f.init());
    f.loadConfigFromFile(good);
    const State loaded = stateOf(f);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const auto report = f.loadConfigFromFile(c.path);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    expectReportShape(report);
    EXPECT_EQ(reportConfig(report), "null") << c.name;
    EXPECT_TRUE(stateOf(f) == loaded) << c.name;
    EXPECT_FALSE(f.config()) << c.name;
    EXPECT_EQ(out + err, "") << c.name << ": the filter never logs";
  }
}

TEST(ConfigLoads, AFileThatBecomesUnreadableChangesNoRule) {
  TempDir dir;
  const auto path = dir.write("c.toml", group(kAllKeys));
  F f;
  ASSERT_TRUE(f.init());
  f.loadConfigFromFile(path);
  const State loaded = stateOf(f);

  dir.write("c.toml", group("allowed-tt = [1, 2"));
  f.reloadConfig();
  EXPECT_TRUE(stateOf(f) == loaded);

  if (::geteuid() != 0) {
    dir.write("c.toml", group("allowed-tt = [1, 2]"));
    std::filesystem::permissions(path, std::filesystem::perms::none);
    f.reloadConfig();
    EXPECT_TRUE(stateOf(f) == loaded) << "unreadable file";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  }

  std::filesystem::remove(path);
  f.reloadConfig();
  EXPECT_TRUE(stateOf(f) == loaded);
}

TEST(ConfigLoads, ReloadingInALoopReleasesEverythingEarlier) {
  TempDir dir;
  const auto path = dir.write("c.toml", group(kAllKeys));
  F f;
  ASSERT_TRUE(f.init());
  f.loadConfigFromFile(path);
  std::weak_ptr<const PXDictionary> firstGroup = f.config();
  std::weak_ptr<const PXList> firstList = f.allowedCallingSccpPrefixE164();
  for (int i = 0; i < 1000; ++i) f.reloadConfig();
  EXPECT_TRUE(firstGroup.expired());
  EXPECT_TRUE(firstList.expired());
  EXPECT_EQ(f.ruleSetCell().liveCount(), 1u) << "retired rule sets are freed";
  EXPECT_EQ(f.config().use_count(), 2) << "held by the filter and by this expression only";
}

// ---------------------------------------------------------------------------
// The reload report.

// Runs the independent check of a report's JSON against python3's TOML parser.
std::string pythonVerdict(const std::string& tomlPath, const std::string& json) {
  TempDir dir;
  const auto jsonPath = dir.write("config.json", json);
  const std::string command = "python3 " QEL_TEST_DATA_DIR "/report_matches_toml.py '" + tomlPath +
                              "' '" + jsonPath + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return "<popen failed>";
  std::string out;
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
  const int status = ::pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    out += "<exit status " + std::to_string(status) + ">";
  return out;
}

TEST(ConfigReport, JsonMatchesAnIndependentTomlParser) {
  TempDir dir;
  const std::vector<std::string> files = {
      QEL_TEST_DATA_DIR "/report_roundtrip.toml",     QEL_SOURCE_DIR "/examples/screening.toml",
      dir.write("keys.toml", group(kAllKeys)),        dir.write("empty-group.toml", group("")),
      dir.write("no-group.toml", "[other]\na = 1\n"),
  };
  for (const auto& file : files) {
    F f;
    ASSERT_TRUE(f.init());
    const auto report = f.loadConfigFromFile(file);
    expectReportShape(report);
    EXPECT_EQ(reportConfig(report), px::jsonString(f.config().get())) << file;
    EXPECT_EQ(pythonVerdict(file, reportConfig(report)), "match\n") << file;
  }
}

TEST(ConfigReport, RoundTripFileSetsTheKeysItNames) {
  F f;
  ASSERT_TRUE(f.init());
  f.loadConfigFromFile(QEL_TEST_DATA_DIR "/report_roundtrip.toml");
  ASSERT_TRUE(f.deniedCalledSccpPrefixE164());
  EXPECT_EQ(*f.deniedCalledSccpPrefixE164()->front().text(), "882");
  EXPECT_EQ(f.deniedOP()->size(), 5u);
  EXPECT_EQ(f.defaultDenyCalling(), 1);
  EXPECT_EQ(f.defaultAllowTT(), 0);
}

TEST(ConfigExample, TheShippedExampleUsesEveryKeyWithAnAcceptedKind) {
  const std::string path = QEL_SOURCE_DIR "/examples/screening.toml";
  PXConfig reader(path);
  reader.allowSingleGroup("sccp-screening");
  const auto result = reader.read();
  ASSERT_TRUE(result.ok()) << result.message;

  F f;
  ASSERT_TRUE(f.init());
  const State sentinels = setSentinels(f);
  f.loadConfigFromFile(path);
  const State loaded = stateOf(f);
  const PXDictionaryRef g = f.config();
  ASSERT_TRUE(g);
  for (std::size_t i = 0; i < kFields.size(); ++i) {
    const Field& field = kFields[i];
    EXPECT_TRUE(g->find(field.key)) << field.key;
    if (field.getList) {
      EXPECT_NE(loaded.lists[i], sentinels.lists[i]) << field.key;
    } else {
      EXPECT_NE(loaded.flags[i], 2) << field.key;
    }
  }
  EXPECT_EQ(g->size(), kFields.size()) << "no stray keys";
}

}  // namespace
