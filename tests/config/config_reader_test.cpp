// The TOML configuration reader: value conversion, groups, and its errors.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include <unistd.h>

#include "TempDir.hpp"
#include "px/Config.hpp"

namespace {

constexpr std::string_view kGroup = "sccp-screening";

struct Loaded {
  PXConfigReadResult result;
  PXDictionaryRef group;
};

Loaded readGroup(const std::string& path, std::string_view group = kGroup) {
  PXConfig config(path);
  config.allowSingleGroup(group);
  Loaded out;
  out.result = config.read();
  out.group = config.getSingleGroup(group);
  return out;
}

TEST(ConfigConversion, EachTomlKindBecomesItsHostValue) {
  TempDir dir;
  const auto path = dir.write("kinds.toml", R"([sccp-screening]
text = "4179, 4176 "
empty-text = ""
integer = -42
hex = 0x10
big = 9223372036854775807
float = 2.5
exponent = 1e3
infinity = inf
not-a-number = nan
yes = true
no = false
list = ["41", 7, 1.5, false]
nested = [[1, 2], ["a"], []]
empty-list = []
inline = { a = 1 }
tables = [{ a = 1 }, { b = 2 }]
offset-date-time = 1979-05-27T07:32:00Z
local-date-time = 1979-05-27T07:32:00
date = 1979-05-27
time = 07:32:00
[sccp-screening.sub]
x = 1
)");
  const auto loaded = readGroup(path);
  ASSERT_TRUE(loaded.result.ok()) << loaded.result.message;
  ASSERT_TRUE(loaded.group);
  const PXDictionary& g = *loaded.group;

  ASSERT_TRUE(g.find("text") && g.find("text")->isText());
  EXPECT_EQ(*g.find("text")->text(), "4179, 4176 ");
  EXPECT_EQ(*g.find("empty-text")->text(), "");
  EXPECT_EQ(*g.find("integer")->integer(), -42);
  EXPECT_EQ(*g.find("hex")->integer(), 16);
  EXPECT_EQ(*g.find("big")->integer(), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(*g.find("float")->real(), 2.5);
  EXPECT_EQ(*g.find("exponent")->real(), 1000.0);
  EXPECT_TRUE(std::isinf(*g.find("infinity")->real()));
  EXPECT_TRUE(std::isnan(*g.find("not-a-number")->real()));
  ASSERT_TRUE(g.find("yes")->isInteger());
  EXPECT_EQ(*g.find("yes")->integer(), 1);
  EXPECT_EQ(*g.find("no")->integer(), 0);

  const PXListRef& list = g.find("list")->list();
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 4u);
  EXPECT_EQ(*(*list)[0].text(), "41");
  EXPECT_EQ(*(*list)[1].integer(), 7);
  EXPECT_EQ(*(*list)[2].real(), 1.5);
  EXPECT_EQ(*(*list)[3].integer(), 0);

  const PXListRef& nested = g.find("nested")->list();
  ASSERT_TRUE(nested);
  ASSERT_EQ(nested->size(), 3u);
  ASSERT_TRUE((*nested)[0].isList());
  EXPECT_EQ(*(*(*nested)[0].list())[1].integer(), 2);
  EXPECT_EQ(*(*(*nested)[1].list())[0].text(), "a");
  EXPECT_TRUE((*nested)[2].list()->empty());

  ASSERT_TRUE(g.find("empty-list")->isList());
  EXPECT_TRUE(g.find("empty-list")->list()->empty());

  for (const char* other :
       {"inline", "offset-date-time", "local-date-time", "date", "time", "sub"}) {
    ASSERT_TRUE(g.find(other)) << other;
    EXPECT_TRUE(g.find(other)->isOther()) << other;
  }
  const PXListRef& tables = g.find("tables")->list();
  ASSERT_TRUE(tables);
  ASSERT_EQ(tables->size(), 2u);
  EXPECT_TRUE((*tables)[0].isOther());
  EXPECT_EQ(g.size(), 21u);
}

TEST(ConfigConversion, NestedArraysUpToTheBoundAreRead) {
  TempDir dir;
  const std::string deep = std::string(64, '[') + "1" + std::string(64, ']');
  auto loaded = readGroup(dir.write("deep.toml", "[sccp-screening]\nx = " + deep + "\n"));
  ASSERT_TRUE(loaded.result.ok()) << loaded.result.message;
  const PXValue* v = loaded.group->find("x");
  for (int i = 0; i < 64; ++i) {
    ASSERT_TRUE(v && v->isList() && v->list()->size() == 1u) << "level " << i;
    v = &v->list()->front();
  }
  EXPECT_EQ(*v->integer(), 1);
}

TEST(ConfigGroups, OnlyAnAllowedTopLevelTableIsAGroup) {
  TempDir dir;
  const auto path = dir.write("groups.toml", R"(top = 1
sccp-screening-as-key = 2
mtp3-screening = 3
[sccp-screening]
a = 1
[other]
b = 2
[outer.inner]
c = 3
[[listed]]
d = 4
)");
  PXConfig config(path);
  config.allowSingleGroup("sccp-screening");
  config.allowSingleGroup("mtp3-screening");
  config.allowSingleGroup("listed");
  config.allowSingleGroup("top");
  ASSERT_TRUE(config.read().ok());

  const auto group = config.getSingleGroup("sccp-screening");
  ASSERT_TRUE(group);
  EXPECT_EQ(group->size(), 1u);
  EXPECT_EQ(config.getSingleGroup("sccp-screening"), group) << "the same object every time";
  EXPECT_FALSE(config.getSingleGroup("other")) << "present but not allowed";
  EXPECT_FALSE(config.getSingleGroup("mtp3-screening")) << "a key, not a table";
  EXPECT_FALSE(config.getSingleGroup("top"));
  EXPECT_FALSE(config.getSingleGroup("listed")) << "an array of tables is not a single group";
  EXPECT_FALSE(config.getSingleGroup("absent"));
  EXPECT_FALSE(config.getSingleGroup("SCCP-SCREENING")) << "names are case-sensitive";

  // Allowing after the read is as good as before it.
  config.allowSingleGroup("outer");
  const auto outer = config.getSingleGroup("outer");
  ASSERT_TRUE(outer);
  EXPECT_TRUE(outer->find("inner")->isOther());
}

TEST(ConfigGroups, AnInlineTableIsAGroupLikeAnyOtherTable) {
  TempDir dir;
  const auto loaded =
      readGroup(dir.write("inline.toml", "sccp-screening = { allowed-tt = [9], x = \"y\" }\n"));
  ASSERT_TRUE(loaded.result.ok());
  ASSERT_TRUE(loaded.group);
  EXPECT_EQ(loaded.group->size(), 2u);
  EXPECT_EQ(*loaded.group->find("allowed-tt")->list()->front().integer(), 9);
}

TEST(ConfigGroups, AnEmptyFileAndAnEmptyGroupReadFine) {
  TempDir dir;
  auto loaded = readGroup(dir.write("empty.toml", ""));
  EXPECT_TRUE(loaded.result.ok());
  EXPECT_TRUE(loaded.result.message.empty());
  EXPECT_FALSE(loaded.group);

  loaded = readGroup(dir.write("bare.toml", "# nothing here\n[sccp-screening]\n"));
  EXPECT_TRUE(loaded.result.ok());
  ASSERT_TRUE(loaded.group);
  EXPECT_TRUE(loaded.group->empty());
}

TEST(ConfigErrors, AFileThatCannotBeReadSaysWhy) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string path;
    std::string message;
  };
  const std::string missing = (dir.path() / "missing.toml").string();
  const std::string directory = dir.path().string();
  const std::string underFile = dir.write("plain", "") + "/x.toml";
  const Case cases[] = {
      {"missing file", missing, missing + ": No such file or directory"},
      {"directory", directory, directory + ": Is a directory"},
      {"path through a file", underFile, underFile + ": Not a directory"},
      {"no file name", "", "(no file name): No such file or directory"},
      {"endless device", "/dev/zero", "/dev/zero: not a regular file"},
  };
  for (const auto& c : cases) {
    PXConfig config(c.path);
    config.allowSingleGroup(kGroup);
    const auto r = config.read();
    EXPECT_FALSE(r.ok()) << c.name;
    EXPECT_FALSE(static_cast<bool>(r)) << c.name;
    EXPECT_EQ(r.status, PXConfigReadResult::Status::cannotRead) << c.name;
    EXPECT_EQ(r.message, c.message) << c.name;
    EXPECT_EQ(r.line, 0u) << c.name;
    EXPECT_EQ(r.column, 0u) << c.name;
  }
}

TEST(ConfigErrors, AnUnreadableFileSaysPermissionDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
  TempDir dir;
  const auto path = dir.write("locked.toml", "[sccp-screening]\n");
  std::filesystem::permissions(path, std::filesystem::perms::none);
  const auto r = readGroup(path);
  EXPECT_EQ(r.result.message, path + ": Permission denied");
  EXPECT_FALSE(r.group);
}

TEST(ConfigErrors, ASyntaxErrorGivesItsPosition) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string text;
    std::uint32_t line, column;
    const char* reasonPart;
  };
  // Positions as toml++ 3.3 reports them; lines and columns count from 1.
  const Case cases[] = {
      {"value missing at end", "[sccp-screening]\nx = ", 2, 5, "end-of-file"},
      {"unterminated string", "[sccp-screening]\nx = \"abc", 2, 9, "string"},
      {"key given twice", "[sccp-screening]\nx = 1\nx = 2", 3, 5, "redefine"},
      {"table given twice", "[sccp-screening]\n[sccp-screening]", 2, 1, "redefine"},
      {"unterminated array", "[sccp-screening]\nx = [1, 2", 2, 10, "array"},
      {"double equals", "x = 1\n  y == 2", 2, 6, "value"},
      {"invalid UTF-8", "[sccp-screening]\nx = \xff", 2, 4, "utf-8"},
      {"integer out of range", "[sccp-screening]\nx = 99999999999999999999", 2, 25, "64 bits"},
  };
  for (const auto& c : cases) {
    const auto path = dir.write("bad.toml", c.text);
    const auto r = readGroup(path);
    EXPECT_EQ(r.result.status, PXConfigReadResult::Status::syntaxError) << c.name;
    EXPECT_EQ(r.result.line, c.line) << c.name;
    EXPECT_EQ(r.result.column, c.column) << c.name;
    const std::string prefix =
        path + ':' + std::to_string(c.line) + ':' + std::to_string(c.column) + ": ";
    EXPECT_EQ(r.result.message.rfind(prefix, 0), 0u) << c.name << ": " << r.result.message;
    EXPECT_NE(r.result.message.find(c.reasonPart), std::string::npos)
        << c.name << ": " << r.result.message;
    EXPECT_FALSE(r.group) << c.name;
  }
}

TEST(ConfigErrors, AFailedReadLeavesNoGroupFromAnEarlierOne) {
  TempDir dir;
  const auto path = dir.write("cfg.toml", "[sccp-screening]\na = 1\n");
  PXConfig config(path);
  config.allowSingleGroup(kGroup);
  ASSERT_TRUE(config.read().ok());
  ASSERT_TRUE(config.getSingleGroup(kGroup));

  dir.write("cfg.toml", "[sccp-screening]\na = \n");
  EXPECT_EQ(config.read().status, PXConfigReadResult::Status::syntaxError);
  EXPECT_FALSE(config.getSingleGroup(kGroup));

  std::filesystem::remove(path);
  EXPECT_EQ(config.read().status, PXConfigReadResult::Status::cannotRead);
  EXPECT_FALSE(config.getSingleGroup(kGroup));

  dir.write("cfg.toml", "[sccp-screening]\nb = 2\n");
  ASSERT_TRUE(config.read().ok());
  const auto group = config.getSingleGroup(kGroup);
  ASSERT_TRUE(group);
  EXPECT_FALSE(group->find("a"));
  EXPECT_TRUE(group->find("b"));
}

TEST(ConfigReading, RepeatedReadsReleaseEarlierGroups) {
  TempDir dir;
  const auto path = dir.write("cfg.toml", "[sccp-screening]\na = [\"1\", [2]]\n");
  std::weak_ptr<const PXDictionary> first;
  std::weak_ptr<const PXList> firstList;
  {
    PXConfig config(path);
    config.allowSingleGroup(kGroup);
    for (int i = 0; i < 200; ++i) {
      ASSERT_TRUE(config.read().ok());
      if (i == 0) {
        first = config.getSingleGroup(kGroup);
        firstList = config.getSingleGroup(kGroup)->find("a")->list();
      }
    }
    EXPECT_TRUE(first.expired()) << "a later read drops the group of an earlier one";
    EXPECT_TRUE(firstList.expired());
  }
  // A group handed out outlives its reader.
  PXDictionaryRef kept;
  {
    PXConfig config(path);
    config.allowSingleGroup(kGroup);
    ASSERT_TRUE(config.read().ok());
    kept = config.getSingleGroup(kGroup);
  }
  ASSERT_TRUE(kept);
  EXPECT_EQ(*kept->find("a")->list()->front().text(), "1");
  EXPECT_EQ(kept.use_count(), 1);
}

// Sources: every value of the file with where it stands and how it was
// written, in the order that pairs it with its host value.
TEST(ConfigSources, EachValueKeepsItsPositionAndWrittenKind) {
  using Kind = px::ConfigSource::Kind;
  TempDir dir;
  const auto path = dir.write("sources.toml", R"(outside = true
[sccp-screening]
b-text = "41"
a-list = [ 7, 1.5,
  false, [1], 1979-05-27 ]
  c-table = { x = 1 }
)");
  PXConfig config(path);
  config.allowSingleGroup(kGroup);
  config.keepSources();
  ASSERT_TRUE(config.read().ok());
  const px::ConfigSource* root = config.sources();
  ASSERT_TRUE(root);
  ASSERT_EQ(root->elements.size(), 2u);
  const px::ConfigSource* outside = root->find("outside");
  ASSERT_TRUE(outside);
  EXPECT_EQ(outside->kind, Kind::boolean);
  EXPECT_EQ(std::pair(outside->keyLine, outside->keyColumn), std::pair(1u, 1u));
  EXPECT_EQ(std::pair(outside->line, outside->column), std::pair(1u, 11u));

  const px::ConfigSource* group = root->find(kGroup);
  ASSERT_TRUE(group);
  EXPECT_EQ(group->kind, Kind::table);
  struct Entry {
    std::string_view key;
    Kind kind;
    std::uint32_t keyLine, keyColumn, line, column;
  };
  // In the reader's order, which is that of the group's dictionary.
  const Entry kEntries[] = {
      {"a-list", Kind::array, 4, 1, 4, 10},
      {"b-text", Kind::text, 3, 1, 3, 10},
      {"c-table", Kind::table, 6, 3, 6, 13},
  };
  ASSERT_EQ(group->elements.size(), std::size(kEntries));
  const auto values = config.getSingleGroup(kGroup);
  auto value = values->entries().begin();
  for (std::size_t i = 0; i < std::size(kEntries); ++i, ++value) {
    const Entry& want = kEntries[i];
    const px::ConfigSource& got = group->elements[i];
    EXPECT_EQ(got.key, want.key);
    EXPECT_EQ(value->first, want.key);
    EXPECT_EQ(got.kind, want.kind) << want.key;
    EXPECT_EQ(std::tuple(got.keyLine, got.keyColumn, got.line, got.column),
              std::tuple(want.keyLine, want.keyColumn, want.line, want.column))
        << want.key;
  }
  // List elements pair with the host list by index; a boolean reads as 0.
  const px::ConfigSource& list = group->elements[0];
  const PXList& hostList = *values->find("a-list")->list();
  const std::tuple<Kind, std::uint32_t, std::uint32_t> kElements[] = {
      {Kind::integer, 4, 12}, {Kind::floatingPoint, 4, 15}, {Kind::boolean, 5, 3},
      {Kind::array, 5, 10},   {Kind::dateTime, 5, 15},
  };
  ASSERT_EQ(list.elements.size(), std::size(kElements));
  ASSERT_EQ(hostList.size(), std::size(kElements));
  for (std::size_t i = 0; i < std::size(kElements); ++i) {
    const px::ConfigSource& e = list.elements[i];
    EXPECT_EQ(std::tuple(e.kind, e.line, e.column), kElements[i]) << i;
    EXPECT_TRUE(e.key.empty());
  }
  EXPECT_EQ(*hostList[2].integer(), 0);
  EXPECT_TRUE(hostList[4].isOther());
  EXPECT_EQ(list.elements[3].elements.size(), 1u);
}

TEST(ConfigSources, KeptOnlyWhenAskedForAndOnlyFromASuccessfulRead) {
  TempDir dir;
  const auto good = dir.write("good.toml", "[sccp-screening]\na = 1\n");
  const auto bad = dir.write("bad.toml", "[sccp-screening\n");
  PXConfig plain(good);
  ASSERT_TRUE(plain.read().ok());
  EXPECT_EQ(plain.sources(), nullptr);

  PXConfig config(good);
  config.keepSources();
  ASSERT_TRUE(config.read().ok());
  ASSERT_TRUE(config.sources());
  EXPECT_TRUE(config.sources()->find(kGroup));
  EXPECT_EQ(config.sources()->find("nothing"), nullptr);

  PXConfig failing(bad);
  failing.keepSources();
  EXPECT_FALSE(failing.read().ok());
  EXPECT_EQ(failing.sources(), nullptr);
}

}  // namespace
