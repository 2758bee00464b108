#include "px/Value.hpp"

#include "px/JsonString.hpp"

#include <charconv>
#include <cmath>

namespace {

const PXListRef kNoList;
const PXDictionaryRef kNoDictionary;

void appendValue(std::string& out, const PXValue& value);

void appendDictionary(std::string& out, const PXDictionary& dict) {
  out += '{';
  bool first = true;
  for (const auto& [key, value] : dict.entries()) {
    if (!first) out += ',';
    first = false;
    px::appendJsonString(out, key);
    out += ':';
    appendValue(out, value);
  }
  out += '}';
}

void appendValue(std::string& out, const PXValue& value) {
  struct Visitor {
    std::string& out;
    void operator()(const PXOther&) const { out += "null"; }
    void operator()(const std::string& s) const { px::appendJsonString(out, s); }
    void operator()(std::int64_t n) const { out += std::to_string(n); }
    void operator()(double d) const {
      if (!std::isfinite(d)) {
        out += "null";
        return;
      }
      char buf[32];
      auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
      std::string_view text(buf, ec == std::errc() ? static_cast<std::size_t>(end - buf) : 0);
      out += text;
      // Keep a double recognisable as one ("1.0", not "1").
      if (text.find_first_of(".eE") == std::string_view::npos) out += ".0";
    }
    void operator()(const PXListRef& list) const {
      out += '[';
      if (list) {
        bool first = true;
        for (const auto& v : *list) {
          if (!first) out += ',';
          first = false;
          appendValue(out, v);
        }
      }
      out += ']';
    }
    void operator()(const PXDictionaryRef& dict) const {
      if (dict)
        appendDictionary(out, *dict);
      else
        out += "null";
    }
  };
  std::visit(Visitor{out}, value.storage());
}

}  // namespace

const PXListRef& PXValue::list() const {
  const auto* l = std::get_if<PXListRef>(&_v);
  return l ? *l : kNoList;
}

const PXDictionaryRef& PXValue::dictionary() const {
  const auto* d = std::get_if<PXDictionaryRef>(&_v);
  return d ? *d : kNoDictionary;
}

PXListRef px::makeList(std::initializer_list<PXValue> values) {
  return std::make_shared<const PXList>(values);
}

const PXValue* PXDictionary::find(std::string_view key) const {
  auto it = _entries.find(key);
  return it == _entries.end() ? nullptr : &it->second;
}

void px::appendJsonString(std::string& out, std::string_view s) {
  const std::size_t at = out.size();
  out.resize(at + px::maxJsonString(s.size()));
  char* const end = px::writeJsonString(out.data() + at, s);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

std::string px::jsonString(const PXDictionary& dict) {
  std::string out;
  appendDictionary(out, dict);
  return out;
}

std::string px::jsonString(const PXDictionary* dict) {
  return dict ? jsonString(*dict) : "null";
}

std::string px::jsonValue(const PXValue& value) {
  std::string out;
  appendValue(out, value);
  return out;
}
