#include "ConfigCheck.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>
#include <utility>

#include "ConfigRules.hpp"
#include "NumberEntry.hpp"
#include "px/Config.hpp"

namespace qs {

namespace {

using Severity = Diagnostic::Severity;
using Source = px::ConfigSource;
using Kind = px::ConfigSource::Kind;

constexpr std::int64_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMax32 = std::numeric_limits<std::int32_t>::max();

using qel::entryInteger;
using qel::isBlank;

std::string lower(std::string_view s) {
  std::string r;
  for (char c : s) r += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return r;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// What a person most likely meant by a flag text; nullopt when unclear.
std::optional<bool> intendedTruth(std::string_view text) {
  static constexpr std::string_view kTrue[] = {"true",   "yes",     "y",      "t",   "on",
                                               "enable", "enabled", "active", "set", "1"};
  static constexpr std::string_view kFalse[] = {
      "false", "no", "n", "f", "off", "disable", "disabled", "inactive", "unset", "none", "0", ""};
  std::string w = lower(trim(text));
  for (auto t : kTrue)
    if (w == t) return true;
  for (auto f : kFalse)
    if (w == f) return false;
  // A number written as text.
  char* end = nullptr;
  double d = std::strtod(w.c_str(), &end);
  if (!w.empty() && end == w.c_str() + w.size()) return d != 0;
  return std::nullopt;
}

std::string quoted(std::string_view s) {
  std::string r;
  px::appendJsonString(r, s);
  return r;
}

std::string_view kindNoun(const Source& n) {
  switch (n.kind) {
    case Kind::text:
      return "a text";
    case Kind::integer:
    case Kind::floatingPoint:
      return "a number";
    case Kind::boolean:
      return "a boolean";
    case Kind::array:
      return "a list";
    case Kind::table:
      return "a table";
    case Kind::dateTime:
      break;
  }
  return "a date or time";
}

bool isNumber(const Source& n) {
  return n.kind == Kind::integer || n.kind == Kind::floatingPoint;
}

// The elements of a list value paired with where each stands.
template <class F>
void forEachElement(const PXValue& list, const Source& at, F&& f) {
  const PXList& values = *list.list();
  for (std::size_t i = 0; i < values.size() && i < at.elements.size(); ++i)
    f(values[i], at.elements[i]);
}

class Linter {
 public:
  explicit Linter(std::vector<Diagnostic>& out) : _out(out) {}

  // At a value.
  void warn(const Source& at, std::string message) {
    _out.push_back(Diagnostic{Severity::warning, at.line, at.column, std::move(message)});
  }
  // At the key of an entry.
  void warnKey(const Source& at, std::string message) {
    _out.push_back(Diagnostic{Severity::warning, at.keyLine, at.keyColumn, std::move(message)});
  }

  void prefixText(const Source& n, std::string_view key, std::string_view text) {
    if (text.empty()) {
      warn(n, fmt::format("{}: an empty prefix never matches", key));
      return;
    }
    bool digitsOnly =
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digitsOnly) return;
    if (text.find_first_of(", ;\t") != std::string_view::npos)
      warn(n, fmt::format("{}: prefix {} is one text, not a list: it is never split at "
                          "commas or blanks, so it never matches; write a list of texts",
                          key, quoted(text)));
    else
      warn(n, fmt::format("{}: prefix {} has characters other than digits 0-9: it never "
                          "matches address or IMSI digits",
                          key, quoted(text)));
  }

  void prefix(const PXValue& v, const Source& n, std::string_view key) {
    if (auto s = v.text()) return prefixText(n, key, *s);
    if (v.isList()) {
      forEachElement(v, n, [&](const PXValue& ev, const Source& e) {
        if (auto s = ev.text())
          prefixText(e, key, *s);
        else if (e.kind == Kind::array)
          warn(e, fmt::format("{}: a nested list is not a prefix and never matches", key));
        else
          warn(e, fmt::format("{}: {} is not a prefix and never matches; prefixes are "
                              "texts such as \"4179\"",
                              key, kindNoun(e)));
      });
      return;
    }
    warn(n, fmt::format("{}: given as {}, which this key ignores (the list stays unset); "
                        "write a text or a list of texts such as [\"4179\"]",
                        key, kindNoun(n)));
  }

  void numberEntry(const PXValue& v, const Source& e, std::string_view key) {
    if (e.kind == Kind::boolean) {
      const bool b = *v.integer() != 0;
      warn(e, fmt::format("{}: the boolean {} reads as the number {}", key, b, b ? 1 : 0));
    } else if (auto i = v.integer()) {
      if (*i < kMin32 || *i > kMax32)
        warn(e, fmt::format("{}: {} is outside the 32-bit range and reads as {}", key, *i,
                            *i < 0 ? kMin32 : kMax32));
    } else if (auto f = v.real()) {
      double d = *f;
      if (std::isnan(d))
        warn(e, fmt::format("{}: nan never matches", key));
      else if (d != std::trunc(d) || d < double(kMin32) || d > double(kMax32))
        warn(e, fmt::format("{}: {} reads as {}", key, d, *entryInteger(v)));
    } else if (auto s = v.text()) {
      std::string_view t = trim(*s);
      std::string_view digits = t;
      if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
      bool plain = !digits.empty() && std::all_of(digits.begin(), digits.end(),
                                                  [](char c) { return c >= '0' && c <= '9'; });
      std::int32_t n = *entryInteger(v);
      if (!plain)
        warn(e, fmt::format("{}: the text {} reads as the number {}", key, quoted(*s), n));
      else if (digits.size() > 10 || std::stoll(std::string(t)) != n)
        warn(e, fmt::format("{}: the text {} is outside the 32-bit range and reads as {}", key,
                            quoted(*s), n));
    } else if (e.kind == Kind::array) {
      warn(e, fmt::format("{}: a nested list never matches", key));
    } else {
      warn(e, fmt::format("{}: {} never matches", key, kindNoun(e)));
    }
  }

  void number(const PXValue& v, const Source& n, std::string_view key) {
    if (v.isList()) {
      forEachElement(v, n, [&](const PXValue& ev, const Source& e) { numberEntry(ev, e, key); });
      return;
    }
    if (auto s = v.text()) {
      warn(n, fmt::format("{}: a single text is ignored by this key (the list stays "
                          "unset); write a number or a list such as [{}]",
                          key, quoted(*s)));
      return;
    }
    if (isNumber(n) || n.kind == Kind::boolean) return numberEntry(v, n, key);
    warn(n, fmt::format("{}: given as {}, which this key ignores (the list stays unset)", key,
                        kindNoun(n)));
  }

  void flagText(const Source& n, std::string_view key, std::string_view text) {
    bool actual = qel::textTruth(text);
    auto meant = intendedTruth(text);
    if (meant && *meant == actual) return;
    warn(n, fmt::format("{}: the text {} reads as {} (a flag text is true only when its first "
                        "character after blanks, signs and zeros is 1-9, Y, y, T or t); write "
                        "true or false",
                        key, quoted(text), actual));
  }

  void flag(const PXValue& v, const Source& n, std::string_view key) {
    if (n.kind == Kind::boolean || isNumber(n)) return;
    if (auto s = v.text()) return flagText(n, key, *s);
    if (v.isList()) {
      if (n.elements.empty()) {
        warn(n, fmt::format("{}: an empty list leaves the flag unchanged", key));
        return;
      }
      const Source& first = n.elements[0];
      if (auto s = v.list()->front().text())
        flagText(first, key, *s);
      else if (!isNumber(first) && first.kind != Kind::boolean)
        warn(first, fmt::format("{}: a list whose first element is {} leaves the flag "
                                "unchanged",
                                key, kindNoun(first)));
      if (n.elements.size() > 1)
        warn(
            n.elements[1],
            fmt::format("{}: only the first element of the list counts; the rest is ignored", key));
      return;
    }
    warn(n, fmt::format("{}: given as {}, which this key ignores (the flag stays false)", key,
                        kindNoun(n)));
  }

 private:
  std::vector<Diagnostic>& _out;
};

std::string_view nearestKey(std::string_view key) {
  std::string_view best;
  std::size_t bestDistance = std::numeric_limits<std::size_t>::max();
  for (const auto& k : qel::kConfigKeys) {
    std::size_t d = editDistance(key, k.key);
    if (d < bestDistance) best = k.key, bestDistance = d;
  }
  return best;
}

// The rules as a filter that has read nothing else holds them after this load.
void appendEffective(std::string& out, const qel::RuleSet& rules) {
  std::size_t width = 0;
  for (const auto& k : qel::kConfigKeys) width = std::max(width, k.key.size());
  for (const auto& k : qel::kConfigKeys) {
    fmt::format_to(std::back_inserter(out), "{:<{}} = ", k.key, width);
    if (k.rule == qel::ConfigRule::flag) {
      out += rules.*k.flag ? "true" : "false";
    } else if (const PXListRef& list = rules.*k.list; !list) {
      out += "(not set)";
    } else if (k.rule == qel::ConfigRule::prefixList) {
      out += px::jsonValue(PXValue(list));
    } else {
      // What each entry reads as; an entry that is no number nor text never matches.
      out += '[';
      bool first = true;
      for (const PXValue& e : *list) {
        if (!first) out += ", ";
        first = false;
        if (auto n = entryInteger(e))
          fmt::format_to(std::back_inserter(out), "{}", *n);
        else
          out += "(never matches)";
      }
      out += ']';
    }
    out += '\n';
  }
}

}  // namespace

std::size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = up;
    }
  }
  return row[b.size()];
}

int CheckReport::exitStatus() const {
  int status = 0;
  for (const auto& d : diagnostics)
    status = std::max(status, d.severity == Severity::error ? 2 : 1);
  return status;
}

std::string formatDiagnostic(const std::string& fileName, const Diagnostic& d) {
  if (d.severity == Severity::error) {
    // The reader's own message names the file: "FILE: reason", "FILE:LINE:COLUMN: reason".
    if (d.line == 0) return d.message;
    return fmt::format("{}:{}:{}: {}", fileName, d.line, d.column, d.message);
  }
  if (d.line == 0) return fmt::format("{}: warning: {}", fileName, d.message);
  return fmt::format("{}:{}:{}: warning: {}", fileName, d.line, d.column, d.message);
}

CheckReport checkConfig(const std::string& fileName) {
  CheckReport report;
  auto& diags = report.diagnostics;

  // The host's reader first: what it refuses, the plug-in never sees.
  PXConfig config(fileName);
  config.allowSingleGroup(qel::kMtp3ScreeningGroup);
  config.allowSingleGroup(qel::kScreeningGroup);
  // Positions and written kinds come with the values: the file is read once.
  config.keepSources();
  PXConfigReadResult read = config.read();
  if (!read.ok()) {
    // The reader's message already names the file (and position).
    Diagnostic d;
    d.severity = Severity::error;
    d.message = read.message;
    diags.push_back(std::move(d));
    return report;
  }
  PXDictionaryRef group = config.getSingleGroup(qel::kScreeningGroup);
  // Applied by the filter's own rules to an empty rule set, as a fresh filter holds it.
  qel::RuleSet rules;
  if (group) qel::applyConfigGroup(*group, rules);

  const Source& root = *config.sources();
  const Source* table = root.find(qel::kScreeningGroup);
  if (table && table->kind != Kind::table) table = nullptr;

  Linter lint(diags);
  if (!table) {
    std::string message =
        "no [sccp-screening] table: the plug-in reads no rules and every "
        "verdict is undefined";
    if (const Source* n = root.find(qel::kScreeningGroup))
      message = fmt::format("sccp-screening is {}, not a table: the plug-in reads no rules",
                            kindNoun(*n));
    for (const Source& n : root.elements)
      if (n.kind == Kind::table && n.key != qel::kScreeningGroup &&
          n.key != qel::kMtp3ScreeningGroup && editDistance(n.key, qel::kScreeningGroup) <= 4) {
        message += fmt::format("; did you mean [sccp-screening] for [{}]?", n.key);
        break;
      }
    diags.push_back(Diagnostic{Severity::warning, 0, 0, std::move(message)});
  }
  // Keys of the group written outside it.
  for (const Source& n : root.elements)
    if (n.kind != Kind::table && qel::findConfigKey(n.key))
      lint.warnKey(n, fmt::format("{} is outside [sccp-screening]: the plug-in does not "
                                  "read it there",
                                  n.key));

  if (table) {
    for (const Source& n : table->elements) {
      const qel::ConfigKey* rule = qel::findConfigKey(n.key);
      if (!rule) {
        lint.warnKey(n, fmt::format("unknown key {} in [sccp-screening]; did you mean {}?",
                                    quoted(n.key), quoted(nearestKey(n.key))));
        continue;
      }
      const PXValue& v = *group->find(n.key);
      switch (rule->rule) {
        case qel::ConfigRule::prefixList:
          lint.prefix(v, n, n.key);
          break;
        case qel::ConfigRule::numberList:
          lint.number(v, n, n.key);
          break;
        case qel::ConfigRule::flag:
          lint.flag(v, n, n.key);
          break;
      }
    }
    // Contradicting defaults, as the plug-in will read them. Every check run
    // goes through these pairs, so a misspelt key fails the tests at once.
    using qel::findConfigKey;
    static constexpr std::pair<const qel::ConfigKey*, const qel::ConfigKey*> kPairs[] = {
        {findConfigKey("default-allow-calling-sccp-address"),
         findConfigKey("default-deny-calling-sccp-address")},
        {findConfigKey("default-allow-called-sccp-address"),
         findConfigKey("default-deny-called-sccp-address")},
        {findConfigKey("default-allow-tt"), findConfigKey("default-deny-tt")},
    };
    for (auto [allow, deny] : kPairs) {
      if (rules.*allow->flag && rules.*deny->flag) {
        lint.warn(*table->find(deny->key),
                  fmt::format("both {} and {} are true: one dimension with an allow "
                              "and a deny default",
                              allow->key, deny->key));
      }
    }
  }

  std::stable_sort(diags.begin(), diags.end(), [](const Diagnostic& a, const Diagnostic& b) {
    return std::tie(a.line, a.column) < std::tie(b.line, b.column);
  });

  fmt::format_to(std::back_inserter(report.effectiveRules),
                 "# [sccp-screening] as the plug-in reads it from {}\n", fileName);
  appendEffective(report.effectiveRules, rules);
  return report;
}

}  // namespace qs
