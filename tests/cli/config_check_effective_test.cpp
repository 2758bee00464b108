// What `qel-screen check` prints as the effective rules of a file, against
// what a fresh filter's getters return after loading the same file.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "ConfigCheck.hpp"
#include "ListMatch.hpp"
#include "RuleFields.hpp"

namespace {

using configtest::F;
using configtest::Field;
using configtest::kFields;
using configtest::Rule;

const std::string kData = QEL_TEST_DATA_DIR;
const std::string kSource = QEL_SOURCE_DIR;

// "key<padding> = value" lines after the heading, by key.
std::map<std::string, std::string> printedRules(const std::string& text) {
  std::map<std::string, std::string> rules;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto eq = line.find(" = ");
    if (eq == std::string::npos) {
      ADD_FAILURE() << "not a rule line: " << line;
      continue;
    }
    const auto keyEnd = line.find(' ');
    rules[line.substr(0, keyEnd)] = line.substr(eq + 3);
  }
  return rules;
}

// The filter's field in the form `check` prints it: prefix lists as JSON,
// number lists by the integer each entry matches as.
std::string fieldText(const F& f, const Field& field) {
  if (field.rule == Rule::flag) return (f.*field.getFlag)() ? "true" : "false";
  const PXListRef list = (f.*field.getList)();
  if (!list) return "(not set)";
  if (field.rule == Rule::prefix) return px::jsonValue(PXValue(list));
  std::string s = "[";
  for (const PXValue& e : *list) {
    if (s.size() > 1) s += ", ";
    const auto n = qel::entryInteger(e);
    s += n ? std::to_string(*n) : "(never matches)";
  }
  return s + "]";
}

class CheckShowsWhatTheFilterLoads : public testing::TestWithParam<std::string> {};

TEST_P(CheckShowsWhatTheFilterLoads, ForEveryKey) {
  const std::string& path = GetParam();
  const qs::CheckReport report = qs::checkConfig(path);
  ASSERT_LT(report.exitStatus(), 2) << path;
  const auto printed = printedRules(report.effectiveRules);
  EXPECT_EQ(printed.size(), kFields.size()) << report.effectiveRules;

  F f;
  ASSERT_TRUE(f.init());
  f.loadConfigFromFile(path);
  for (const Field& field : kFields) {
    const auto it = printed.find(field.key);
    ASSERT_NE(it, printed.end()) << field.key << " is not printed";
    EXPECT_EQ(it->second, fieldText(f, field)) << field.key << " in " << path;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, CheckShowsWhatTheFilterLoads,
    testing::Values(kData + "/effective/plain-kinds.toml", kData + "/effective/single-values.toml",
                    kData + "/effective/odd-lists.toml", kData + "/effective/flag-texts.toml",
                    kData + "/effective/no-group.toml", kData + "/effective/group-not-table.toml",
                    kData + "/effective/group-array.toml", kSource + "/examples/screening.toml",
                    kSource + "/tests/cli/data/lint-warnings.toml",
                    kSource + "/tests/cli/data/lint-clean.toml"),
    [](const testing::TestParamInfo<std::string>& info) {
      std::string name = info.param.substr(info.param.rfind('/') + 1);
      name = name.substr(0, name.rfind('.'));
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

}  // namespace
