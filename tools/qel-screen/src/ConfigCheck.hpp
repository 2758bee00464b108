// `qel-screen check`: lints the [sccp-screening] group of a configuration and
// shows the rules the plug-in will read from it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qs {

struct Diagnostic {
  enum class Severity : std::uint8_t { warning, error };
  Severity severity = Severity::warning;
  std::uint32_t line = 0;  // 0: about the file as a whole
  std::uint32_t column = 0;
  std::string message;
};

struct CheckReport {
  std::vector<Diagnostic> diagnostics;  // sorted by position
  std::string effectiveRules;           // empty after an error
  // 0 clean, 1 warnings, 2 errors.
  int exitStatus() const;
};

CheckReport checkConfig(const std::string& fileName);

// "FILE:LINE:COLUMN: warning: message" (no position for whole-file ones);
// errors as "FILE:LINE:COLUMN: reason" or "FILE: reason".
std::string formatDiagnostic(const std::string& fileName, const Diagnostic& d);

// Levenshtein distance, for "did you mean".
std::size_t editDistance(std::string_view a, std::string_view b);

}  // namespace qs
