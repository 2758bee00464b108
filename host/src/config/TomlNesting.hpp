// A bound on how deep a TOML text nests, checked before the TOML library parses
// it: the library recurses once per dotted-key part, table-header part, array
// and inline table, so a small file (`a.a.a...a = 1` with 50,000 parts) would
// otherwise overflow the stack of the thread that reads it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace px::config {

// Levels of nesting accepted: the brackets open around a point plus the parts
// of the key or header being read there. Real configurations use three or four;
// this many parse within a 64 KiB thread stack with room to spare.
inline constexpr unsigned kMaxNesting = 64;

struct NestingExcess {
  std::uint32_t line = 0;    // counted from 1
  std::uint32_t column = 0;  // counted from 1, in characters
};

// Where `text` first nests deeper than kMaxNesting, or nothing. Strings and
// comments are stepped over as TOML 1.0 defines them; the count errs on the
// side of more (a dot in a float counts as a part), never on the side of less.
std::optional<NestingExcess> findExcessNesting(std::string_view text);

}  // namespace px::config
