// The `screen` and `decode` commands: read captures, find SCCP messages,
// decode (and screen) each, write records and a summary.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Sctp.hpp"

namespace qs {

enum class Format : std::uint8_t { text, jsonl };

// --only: which records to write. Bits by verdict, plus undecodable messages.
struct Selection {
  std::uint32_t bits = ~0u;
  static std::optional<Selection> parse(const std::vector<std::string>& names, std::string& bad);
  bool selects(bool screened, std::int32_t verdict, bool damaged) const;
};

struct RunOptions {
  std::vector<std::string> captures;
  Format format = Format::text;
  // screen only
  std::string config;
  std::string plugin;  // empty: next to the executable
  bool explain = false;
  Selection only;
  ReassemblyLimits limits;
};

// Both return the exit status: 0 done, 1 done with warnings (damaged input),
// 2 nothing done (an input could not be used; one line on stderr says why).
int runScreen(const RunOptions& options);
int runDecode(const RunOptions& options);

}  // namespace qs
