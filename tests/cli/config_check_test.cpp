// `qel-screen check`: what it warns about, where, and what it shows.
#include <gtest/gtest.h>

#include <string>

#include "ConfigCheck.hpp"

namespace {

const std::string kData = QEL_TEST_DATA_DIR;

TEST(edit_distance, counts_insertions_deletions_and_substitutions) {
  EXPECT_EQ(qs::editDistance("", ""), 0u);
  EXPECT_EQ(qs::editDistance("abc", ""), 3u);
  EXPECT_EQ(qs::editDistance("allowed-tt", "allowed-tt"), 0u);
  EXPECT_EQ(qs::editDistance("allow-tt", "allowed-tt"), 2u);
  EXPECT_EQ(qs::editDistance("kitten", "sitting"), 3u);
}

TEST(check_config, passes_a_clean_file) {
  auto r = qs::checkConfig(kData + "/lint-clean.toml");
  for (const auto& d : r.diagnostics) ADD_FAILURE() << d.message;
  EXPECT_EQ(r.exitStatus(), 0);
  EXPECT_NE(r.effectiveRules.find("allowed-operation                  = [2, 45, 46]"),
            std::string::npos)
      << r.effectiveRules;
  EXPECT_NE(r.effectiveRules.find("deny-calling-sccp-prefix-e164      = [\"28979\"]"),
            std::string::npos);
  EXPECT_NE(r.effectiveRules.find("default-allow-called-sccp-address  = true"), std::string::npos);
  EXPECT_NE(r.effectiveRules.find("allowed-fsm-imsi-prefix            = (not set)"),
            std::string::npos);
}

TEST(check_config, warns_where_a_value_does_not_do_what_it_seems_to) {
  const std::string file = kData + "/lint-warnings.toml";
  auto r = qs::checkConfig(file);
  EXPECT_EQ(r.exitStatus(), 1);
  std::vector<std::string> lines;
  for (const auto& d : r.diagnostics) lines.push_back(qs::formatDiagnostic("f.toml", d));
  auto has = [&](const std::string& start, const std::string& part) {
    for (const auto& l : lines)
      if (l.rfind(start, 0) == 0 && l.find(part) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(has("f.toml:1:1: warning:", "outside [sccp-screening]"));
  EXPECT_TRUE(has("f.toml:3:1: warning:", "did you mean \"allow-calling-sccp-prefix-e164\""));
  EXPECT_TRUE(has("f.toml:4:33: warning:", "given as a number"));
  EXPECT_TRUE(has("f.toml:5:33: warning:", "\"+41\" has characters other than digits"));
  EXPECT_TRUE(has("f.toml:5:40: warning:", "not a list"));
  EXPECT_TRUE(has("f.toml:5:54: warning:", "empty prefix"));
  EXPECT_TRUE(has("f.toml:5:58: warning:", "a number is not a prefix"));
  EXPECT_TRUE(has("f.toml:5:62: warning:", "nested list"));
  EXPECT_TRUE(has("f.toml:5:69: warning:", "a table is not a prefix"));
  EXPECT_TRUE(has("f.toml:6:21: warning:", "a single text is ignored"));
  EXPECT_TRUE(has("f.toml:7:21: warning:", "\"46x\" reads as the number 46"));
  EXPECT_TRUE(has("f.toml:7:28: warning:", "\"abc\" reads as the number 0"));
  EXPECT_TRUE(has("f.toml:7:46: warning:", "outside the 32-bit range"));
  EXPECT_TRUE(has("f.toml:7:67: warning:", "nested list"));
  EXPECT_TRUE(has("f.toml:8:13: warning:", "given as a table"));
  EXPECT_TRUE(has("f.toml:9:20: warning:", "\"on\" reads as false"));
  EXPECT_TRUE(has("f.toml:10:19: warning:", "\"enabled\" reads as false"));
  EXPECT_TRUE(has("f.toml:12:36: warning:", "both default-allow-called-sccp-address and"));
  EXPECT_TRUE(has("f.toml:12:42: warning:", "only the first element"));
  EXPECT_TRUE(has("f.toml:13:38: warning:", "empty list leaves the flag unchanged"));
  EXPECT_TRUE(has("f.toml:14:37: warning:", "\"0.5\" reads as false"));
  // "  47" is a plain number in a text: nothing to say.
  EXPECT_FALSE(has("f.toml:7:", "\"  47\""));
  EXPECT_EQ(lines.size(), 23u);
  EXPECT_NE(r.effectiveRules.find("denied-operation                   = [46, 0, 3, 1, 2147483647, "
                                  "47, (never matches)]"),
            std::string::npos)
      << r.effectiveRules;
}

TEST(check_config, reports_syntax_errors_with_their_position) {
  const std::string file = kData + "/lint-syntax.toml";
  auto r = qs::checkConfig(file);
  EXPECT_EQ(r.exitStatus(), 2);
  ASSERT_EQ(r.diagnostics.size(), 1u);
  EXPECT_EQ(qs::formatDiagnostic(file, r.diagnostics[0]).rfind(file + ":3:1: ", 0), 0u)
      << qs::formatDiagnostic(file, r.diagnostics[0]);
  EXPECT_TRUE(r.effectiveRules.empty());
}

TEST(check_config, reports_an_unreadable_file_by_name) {
  auto r = qs::checkConfig(kData + "/no-such.toml");
  EXPECT_EQ(r.exitStatus(), 2);
  ASSERT_EQ(r.diagnostics.size(), 1u);
  EXPECT_EQ(qs::formatDiagnostic("x", r.diagnostics[0]),
            kData + "/no-such.toml: No such file or directory");
}

TEST(check_config, warns_of_a_missing_group_with_a_suggestion) {
  auto r = qs::checkConfig(kData + "/lint-no-group.toml");
  EXPECT_EQ(r.exitStatus(), 1);
  ASSERT_EQ(r.diagnostics.size(), 1u);
  EXPECT_NE(r.diagnostics[0].message.find("[sccp-screenin]"), std::string::npos);
}

}  // namespace
