// Host values: text, number, list, dictionary and "something else".
//
// Lists and dictionaries are immutable once shared and are passed around as
// std::shared_ptr<const ...>; a null list reference means "absent", which is
// not the same thing as an empty list.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

class PXValue;
class PXDictionary;

using PXList = std::vector<PXValue>;
using PXListRef = std::shared_ptr<const PXList>;
using PXDictionaryRef = std::shared_ptr<const PXDictionary>;

// A value the host has but that no rule accepts (a TOML table, a date, ...).
struct PXOther {
  friend bool operator==(PXOther, PXOther) = default;
};

class PXValue {
 public:
  using Storage =
      std::variant<PXOther, std::string, std::int64_t, double, PXListRef, PXDictionaryRef>;

  PXValue() = default;
  PXValue(PXOther) {}
  PXValue(std::string text) : _v(std::move(text)) {}
  PXValue(std::string_view text) : _v(std::string(text)) {}
  PXValue(const char* text) : _v(std::string(text)) {}
  PXValue(std::int64_t n) : _v(n) {}
  PXValue(int n) : _v(std::int64_t{n}) {}
  PXValue(double d) : _v(d) {}
  PXValue(PXListRef list) : _v(std::move(list)) {}
  PXValue(PXDictionaryRef dict) : _v(std::move(dict)) {}

  bool isText() const { return std::holds_alternative<std::string>(_v); }
  bool isInteger() const { return std::holds_alternative<std::int64_t>(_v); }
  bool isDouble() const { return std::holds_alternative<double>(_v); }
  bool isNumber() const { return isInteger() || isDouble(); }
  // A list value always holds a list (never a null reference).
  bool isList() const { return std::holds_alternative<PXListRef>(_v); }
  bool isDictionary() const { return std::holds_alternative<PXDictionaryRef>(_v); }
  bool isOther() const { return std::holds_alternative<PXOther>(_v); }

  const std::string* text() const { return std::get_if<std::string>(&_v); }
  const std::int64_t* integer() const { return std::get_if<std::int64_t>(&_v); }
  const double* real() const { return std::get_if<double>(&_v); }
  // The shared list itself, so that a holder can keep the very same object.
  const PXListRef& list() const;
  const PXDictionaryRef& dictionary() const;

  const Storage& storage() const { return _v; }

 private:
  Storage _v;
};

namespace px {
// Builds a shared list from values: px::makeList({"4179", 10}).
PXListRef makeList(std::initializer_list<PXValue> values);
}  // namespace px

class PXDictionary {
 public:
  using Map = std::map<std::string, PXValue, std::less<>>;

  PXDictionary() = default;
  explicit PXDictionary(Map entries) : _entries(std::move(entries)) {}
  PXDictionary(std::initializer_list<Map::value_type> entries) : _entries(entries) {}

  // The value under key, or nullptr when there is none.
  const PXValue* find(std::string_view key) const;
  std::size_t size() const { return _entries.size(); }
  bool empty() const { return _entries.empty(); }
  const Map& entries() const { return _entries; }
  void set(std::string key, PXValue value) { _entries.insert_or_assign(std::move(key), std::move(value)); }

 private:
  Map _entries;
};

namespace px {

// JSON text of a dictionary: keys in their sorted order, texts escaped as JSON
// requires (UTF-8 passed through), integers exact, doubles in their shortest
// round-trip form, non-finite doubles and "something else" as null.
std::string jsonString(const PXDictionary& dict);
// The JSON text of an absent dictionary is null.
std::string jsonString(const PXDictionary* dict);
// JSON text of a single value; the same rules as above.
std::string jsonValue(const PXValue& value);
// Appends s as a quoted, escaped JSON string.
void appendJsonString(std::string& out, std::string_view s);

}  // namespace px
