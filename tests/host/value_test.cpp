// Host values and their JSON text, checked by an independent JSON parser.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>

#include "px/Value.hpp"

namespace {

// Parses `json` with python3's json module and prints it back canonically
// (sorted keys, ASCII escapes); returns the exit status and output.
std::pair<int, std::string> pythonCanonical(const std::string& json) {
  char path[] = "/tmp/qel-json-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {-1, ""};
  std::FILE* f = fdopen(fd, "w");
  std::fwrite(json.data(), 1, json.size(), f);
  std::fclose(f);
  const std::string cmd = std::string("python3 -c 'import json,sys; ") +
                          "v=json.load(open(sys.argv[1],encoding=\"utf-8\")); " +
                          "print(json.dumps(v,sort_keys=True,ensure_ascii=True))' " + path;
  std::string out;
  std::FILE* pipe = popen(cmd.c_str(), "r");
  char buf[4096];
  while (pipe && std::fgets(buf, sizeof buf, pipe)) out += buf;
  const int status = pipe ? pclose(pipe) : -1;
  std::remove(path);
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return {status, out};
}

TEST(Values, AbsentListIsNotAnEmptyList) {
  PXListRef absent;
  PXListRef empty = px::makeList({});
  EXPECT_EQ(absent, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->empty());
  PXValue v(empty);
  EXPECT_TRUE(v.isList());
  EXPECT_EQ(v.list().get(), empty.get());
  EXPECT_EQ(PXValue("x").list(), nullptr);
}

TEST(Values, KindsAreKeptApart) {
  EXPECT_TRUE(PXValue(std::int64_t{5}).isInteger());
  EXPECT_TRUE(PXValue(5.0).isDouble());
  EXPECT_TRUE(PXValue(5.0).isNumber());
  EXPECT_FALSE(PXValue("5").isNumber());
  EXPECT_TRUE(PXValue().isOther());
  EXPECT_TRUE(PXValue(std::make_shared<const PXDictionary>()).isDictionary());
}

TEST(JsonString, EscapesAsJsonRequiresAndAnIndependentParserAgrees) {
  const std::string nasty = std::string("quote\" backslash\\ nl\n tab\t cr\r nul") + '\0' +
                            " bell\x07 del\x7f unicode \xc3\xa9\xe2\x82\xac";
  PXDictionary d{
      {"text", PXValue(nasty)},
      {"int", PXValue(std::int64_t{-9007199254740993})},
      {"max", PXValue(std::numeric_limits<std::int64_t>::max())},
      {"double", PXValue(0.1)},
      {"whole double", PXValue(3.0)},
      {"nan", PXValue(std::nan(""))},
      {"inf", PXValue(std::numeric_limits<double>::infinity())},
      {"other", PXValue(PXOther{})},
      {"list", PXValue(px::makeList({"a", 1, PXValue(px::makeList({})), 2.5}))},
      {"dict", PXValue(std::make_shared<const PXDictionary>(PXDictionary{{"k", PXValue("v")}}))},
      {"key \"with\" quotes\n", PXValue(1)},
  };
  const std::string json = px::jsonString(d);
  const auto [status, canonical] = pythonCanonical(json);
  ASSERT_EQ(status, 0) << json;
  EXPECT_EQ(canonical,
            "{\"dict\": {\"k\": \"v\"}, \"double\": 0.1, \"inf\": null, "
            "\"int\": -9007199254740993, \"key \\\"with\\\" quotes\\n\": 1, "
            "\"list\": [\"a\", 1, [], 2.5], \"max\": 9223372036854775807, \"nan\": null, "
            "\"other\": null, "
            "\"text\": \"quote\\\" backslash\\\\ nl\\n tab\\t cr\\r nul\\u0000 bell\\u0007 "
            "del\\u007f unicode \\u00e9\\u20ac\", \"whole double\": 3.0}");
}

TEST(JsonString, EmptyAndAbsentDictionaries) {
  EXPECT_EQ(px::jsonString(PXDictionary{}), "{}");
  EXPECT_EQ(px::jsonString(static_cast<const PXDictionary*>(nullptr)), "null");
}

}  // namespace
