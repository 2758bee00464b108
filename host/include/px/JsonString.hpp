// Writing a text as a JSON string into memory the caller has reserved.
//
// The one JSON escape of the host and its tools: the host's appendJsonString
// uses it, and a record writer that builds its output through a raw pointer
// calls it directly. Header-only so that the common case (digits and names,
// nothing to escape) is one inline copy at the call site.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace px {

// A JSON string of n bytes takes at most this much: every byte as \u00XX.
constexpr std::size_t maxJsonString(std::size_t n) {
  return 6 * n + 2;
}

// Writes `s` at `p` and returns its end. The short copies that make up a
// record are done inline, as two overlapping moves, rather than by a call.
inline char* writeText(char* p, std::string_view s) {
  const char* from = s.data();
  std::size_t n = s.size();
  if (n > 16) {
    std::memcpy(p, from, n);
  } else if (n >= 8) {
    std::uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + n - 8, 8);
    std::memcpy(p, &head, 8);
    std::memcpy(p + n - 8, &tail, 8);
  } else if (n >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + n - 4, 4);
    std::memcpy(p, &head, 4);
    std::memcpy(p + n - 4, &tail, 4);
  } else if (n > 0) {
    p[0] = from[0];
    p[n / 2] = from[n / 2];
    p[n - 1] = from[n - 1];
  }
  return p + n;
}

namespace json_detail {

// Bytes that a JSON string escapes: control characters, '"', '\\' and DEL.
constexpr bool escaped(unsigned char c) {
  return c < 0x20 || c == '"' || c == '\\' || c == 0x7F;
}

// Non-zero when any of the eight bytes of `w` is escaped. (x - n * ones) & ~x
// & high is non-zero exactly when some byte of x is below n (n <= 0x80); a
// byte equal to c is a byte of x ^ (c * ones) below 1.
inline std::uint64_t escapedBytes(std::uint64_t w) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHigh = 0x8080808080808080;
  auto below = [](std::uint64_t x, std::uint64_t n) { return (x - n * kOnes) & ~x & kHigh; };
  return below(w, 0x20) | below(w ^ ('"' * kOnes), 1) | below(w ^ ('\\' * kOnes), 1) |
         below(w ^ (0x7F * kOnes), 1);
}

inline std::uint64_t load64(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// True when no byte of `s` is escaped.
inline bool plainJson(std::string_view s) {
  const char* d = s.data();
  const std::size_t n = s.size();
  if (n < 8) {
    bool plain = true;
    for (char c : s) plain &= !escaped(static_cast<unsigned char>(c));
    return plain;
  }
  // The last word overlaps the one before it when n is not a multiple of 8.
  std::uint64_t found = escapedBytes(load64(d + n - 8));
  for (std::size_t i = 0; i + 8 <= n; i += 8) found |= escapedBytes(load64(d + i));
  return found == 0;
}

}  // namespace json_detail

// `s` as a JSON string: quotes, the escapes \" \\ \b \f \n \r \t, \u00XX
// (lower-case hex) for the other control characters and DEL; every other byte
// as it is (UTF-8 passes through). Writes at most maxJsonString(s.size())
// bytes at `p` and returns their end.
inline char* writeJsonString(char* p, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  *p++ = '"';
  if (json_detail::plainJson(s)) {
    // Digits and names, nearly always: one copy.
    p = writeText(p, s);
    *p++ = '"';
    return p;
  }
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (!json_detail::escaped(u)) {
      *p++ = c;
      continue;
    }
    *p++ = '\\';
    switch (c) {
      case '"':
      case '\\':
        *p++ = c;
        break;
      case '\b':
        *p++ = 'b';
        break;
      case '\f':
        *p++ = 'f';
        break;
      case '\n':
        *p++ = 'n';
        break;
      case '\r':
        *p++ = 'r';
        break;
      case '\t':
        *p++ = 't';
        break;
      default:
        std::memcpy(p, "u00", 3);
        p[3] = kHex[u >> 4];
        p[4] = kHex[u & 0x0F];
        p += 5;
    }
  }
  *p++ = '"';
  return p;
}

}  // namespace px
