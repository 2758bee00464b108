#include "TomlNesting.hpp"

namespace px::config {

namespace {

// A linear scan with no recursion of its own. The depth at a point is the sum
// of: `base`, the dots of the last table header (its keys live that deep);
// `brackets`, the open `[` and `{` (table headers, arrays, inline tables); and
// `parts`, the dots since the last element ended (a key's parts count on into
// its value, which the parser reads inside the key's tables).
class Scanner {
 public:
  explicit Scanner(std::string_view text) : _text(text) {}

  std::optional<NestingExcess> run() {
    while (_pos < _text.size()) {
      const char c = _text[_pos];
      switch (c) {
        case '#':
          while (_pos < _text.size() && _text[_pos] != '\n') step();
          continue;
        case '"':
        case '\'':
          skipString(c);
          continue;
        case '[':
        case '{':
          if (c == '[' && _brackets == 0 && !_sawEquals) {
            _inHeader = true;
            _base = 0;
          }
          ++_brackets;
          if (tooDeep()) return here();
          break;
        case ']':
        case '}':
          if (_inHeader && _parts > _headerParts) _headerParts = _parts;
          if (_brackets > 0) --_brackets;
          if (_brackets == 0 && _inHeader) {
            _base = _headerParts;
            _inHeader = false;
            _headerParts = 0;
          }
          _parts = 0;
          break;
        case '.':
          ++_parts;
          if (tooDeep()) return here();
          break;
        case '=':
          _sawEquals = true;
          break;
        case ',':
          _parts = 0;
          break;
        case '\n':
          _parts = 0;
          if (_brackets == 0) _sawEquals = false;
          break;
        default:
          break;
      }
      step();
    }
    return std::nullopt;
  }

 private:
  // A header's own brackets are no level: `[a.b]` nests as deep as `a.b = 1`.
  bool tooDeep() const { return _base + (_inHeader ? 0 : _brackets) + _parts > kMaxNesting; }
  NestingExcess here() const { return {_line, _column}; }

  bool startsWith(std::string_view s) const { return _text.substr(_pos).starts_with(s); }

  void step() {
    const auto b = static_cast<unsigned char>(_text[_pos++]);
    if (b == '\n') {
      ++_line;
      _column = 1;
    } else if ((b & 0xC0) != 0x80) {  // UTF-8 continuation octets share a column
      ++_column;
    }
  }

  // A basic ("...", escapes) or literal ('...') string, single- or multi-line.
  // An unterminated one runs to the end (of the line): the parser reports it.
  void skipString(char quote) {
    const bool basic = quote == '"';
    const char triple[] = {quote, quote, quote, '\0'};
    if (startsWith(triple)) {
      for (int i = 0; i < 3; ++i) step();
      while (_pos < _text.size() && !startsWith(triple)) {
        if (basic && _text[_pos] == '\\' && _pos + 1 < _text.size()) step();
        step();
      }
      // Up to two quotes may end the contents right before the closing three.
      while (_pos < _text.size() && _text[_pos] == quote) step();
      return;
    }
    step();
    while (_pos < _text.size() && _text[_pos] != quote && _text[_pos] != '\n') {
      if (basic && _text[_pos] == '\\' && _pos + 1 < _text.size() && _text[_pos + 1] != '\n')
        step();
      step();
    }
    if (_pos < _text.size() && _text[_pos] == quote) step();
  }

  std::string_view _text;
  std::size_t _pos = 0;
  unsigned _base = 0;
  unsigned _brackets = 0;
  unsigned _parts = 0;
  unsigned _headerParts = 0;
  bool _inHeader = false;
  bool _sawEquals = false;
  std::uint32_t _line = 1;
  std::uint32_t _column = 1;
};

}  // namespace

std::optional<NestingExcess> findExcessNesting(std::string_view text) {
  return Scanner(text).run();
}

}  // namespace px::config
