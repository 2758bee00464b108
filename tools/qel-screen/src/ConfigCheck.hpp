// `qel-screen check`: lints the [sccp-screening] group of a configuration and
// shows the rules the plug-in will read from it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "px/Value.hpp"

namespace qs {

enum class KeyKind : std::uint8_t { prefix, number, flag };

struct KeyRule {
  std::string_view key;
  KeyKind kind;
};

// The group's 26 keys, in the order the plug-in applies them.
inline constexpr std::array<KeyRule, 26> kScreeningKeys{{
    {"allow-calling-sccp-prefix-e164", KeyKind::prefix},
    {"allow-calling-sccp-prefix-e212", KeyKind::prefix},
    {"allow-calling-sccp-prefix-e214", KeyKind::prefix},
    {"allow-called-sccp-prefix-e164", KeyKind::prefix},
    {"allow-called-sccp-prefix-e212", KeyKind::prefix},
    {"allow-called-sccp-prefix-e214", KeyKind::prefix},
    {"deny-calling-sccp-prefix-e164", KeyKind::prefix},
    {"deny-calling-sccp-prefix-e212", KeyKind::prefix},
    {"deny-calling-sccp-prefix-e214", KeyKind::prefix},
    {"deny-called-sccp-prefix-e164", KeyKind::prefix},
    {"deny-called-sccp-prefix-e212", KeyKind::prefix},
    {"deny-called-sccp-prefix-e214", KeyKind::prefix},
    {"allowed-fsm-imsi-prefix", KeyKind::prefix},
    {"denied-fsm-imsi-prefix", KeyKind::prefix},
    {"allowed-operation", KeyKind::number},
    {"denied-operation", KeyKind::number},
    {"allowed-global-operation", KeyKind::number},
    {"denied-global-operation", KeyKind::number},
    {"allowed-tt", KeyKind::number},
    {"denied-tt", KeyKind::number},
    {"default-allow-calling-sccp-address", KeyKind::flag},
    {"default-deny-calling-sccp-address", KeyKind::flag},
    {"default-allow-called-sccp-address", KeyKind::flag},
    {"default-deny-called-sccp-address", KeyKind::flag},
    {"default-allow-tt", KeyKind::flag},
    {"default-deny-tt", KeyKind::flag},
}};

inline constexpr std::string_view kScreeningGroup = "sccp-screening";

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

// The truth value the plug-in gives a flag text: true when its first
// character that is not white space, '+', '-' or '0' is 1-9, Y, y, T or t.
bool flagTextTruth(std::string_view text);

// Levenshtein distance, for "did you mean".
std::size_t editDistance(std::string_view a, std::string_view b);

// What the plug-in makes of one key's value (absent value: not configured).
struct EffectiveRule {
  bool set = false;   // a list was stored / the flag was assigned
  PXListRef list;     // prefix and number keys
  bool flag = false;  // flag keys
};
EffectiveRule effectiveRule(KeyKind kind, const PXValue* value);

}  // namespace qs
