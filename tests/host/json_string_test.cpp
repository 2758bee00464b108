// The one JSON escape: its word-at-a-time check for bytes to escape against a
// byte-by-byte reading of RFC 8259 section 7, in both of its forms.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "px/JsonString.hpp"
#include "px/Value.hpp"

namespace {

std::string reference(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"')
      out += "\\\"";
    else if (c == '\\')
      out += "\\\\";
    else if (c == '\b')
      out += "\\b";
    else if (c == '\f')
      out += "\\f";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else if (u < 0x20 || u == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string written(std::string_view s) {
  std::string out(px::maxJsonString(s.size()), '\0');
  char* end = px::writeJsonString(out.data(), s);
  EXPECT_LE(static_cast<std::size_t>(end - out.data()), px::maxJsonString(s.size()));
  out.resize(static_cast<std::size_t>(end - out.data()));
  return out;
}

std::string appended(std::string_view s) {
  std::string out = "prefix";
  px::appendJsonString(out, s);
  EXPECT_EQ(out.substr(0, 6), "prefix");
  return out.substr(6);
}

TEST(JsonStringWriter, EveryByteAloneAndAtEveryPositionOfAWord) {
  for (int c = 0; c < 256; ++c) {
    const std::string s(1, static_cast<char>(c));
    EXPECT_EQ(written(s), reference(s)) << c;
    EXPECT_EQ(appended(s), reference(s)) << c;
    for (std::size_t at = 0; at < 19; ++at) {
      std::string t(19, '7');
      t[at] = static_cast<char>(c);
      EXPECT_EQ(written(t), reference(t)) << c << " at " << at;
    }
  }
}

TEST(JsonStringWriter, RandomTextsWithRareSpecialBytes) {
  std::mt19937 random(7);
  const std::string special = std::string("\"\\\x7f\x1f\x20\x21\x80\xff", 8) + std::string(1, '\0');
  for (int i = 0; i < 20000; ++i) {
    std::string s(random() % 60, 'x');
    for (char& c : s)
      c = random() % 16 == 0 ? special[random() % special.size()]
                             : static_cast<char>(0x20 + random() % 0x60);
    EXPECT_EQ(written(s), reference(s));
    EXPECT_EQ(appended(s), reference(s));
  }
}

TEST(JsonStringWriter, EmptyTextAndTheWorstCaseBound) {
  EXPECT_EQ(written(""), "\"\"");
  const std::string controls(40, '\x01');
  EXPECT_EQ(written(controls).size(), px::maxJsonString(controls.size()));
}

}  // namespace
