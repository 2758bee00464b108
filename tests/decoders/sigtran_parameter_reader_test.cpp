// The tag-length-value parameters of the SIGTRAN adaptation layers.
#include <gtest/gtest.h>

#include <vector>

#include "px/sigtran/ParameterReader.hpp"

namespace {

struct Case {
  const char* name;
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint16_t> tags;  // of the parameters read
  std::vector<std::size_t> sizes;   // of their values
  bool damaged;
};

TEST(sigtran_parameter_reader, reads_parameters_up_to_the_end_or_the_damage) {
  const std::vector<Case> cases = {
      {"none", {}, {}, {}, false},
      {"two, padded", {0, 1, 0, 5, 9, 0, 0, 0, 0, 2, 0, 4}, {1, 2}, {1, 0}, false},
      {"last without its padding", {0, 1, 0, 4, 0, 2, 0, 6, 9, 9}, {1, 2}, {0, 2}, false},
      {"length below the header", {0, 1, 0, 4, 0, 2, 0, 3, 0, 0, 0, 0}, {1}, {0}, true},
      {"length past the end", {0, 1, 0, 9, 1, 2, 3, 4}, {}, {}, true},
      {"end too short for a header", {0, 1, 0, 4, 0, 2, 0}, {1}, {0}, true},
      {"one octet", {0}, {}, {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    px::sigtran::ParameterReader r(c.bytes);
    std::vector<std::uint16_t> tags;
    std::vector<std::size_t> sizes;
    for (px::sigtran::Parameter p; r.next(p);) {
      tags.push_back(p.tag);
      sizes.push_back(p.value.size());
      // Every value lies inside the input.
      EXPECT_GE(p.value.data(), c.bytes.data());
      EXPECT_LE(p.value.data() + p.value.size(), c.bytes.data() + c.bytes.size());
    }
    EXPECT_EQ(tags, c.tags);
    EXPECT_EQ(sizes, c.sizes);
    EXPECT_EQ(r.damaged(), c.damaged);
    px::sigtran::Parameter p;
    EXPECT_FALSE(r.next(p)) << "nothing more after the end";
  }
}

}  // namespace
