// The bytes waiting for standard output, and the pieces a record is written
// with.
//
// A record is written through a raw pointer into room reserved once for the
// whole record, not appended piece by piece to a std::string: each
// std::string append checks capacity, updates the size and writes a
// terminator, and over a few dozen pieces per record that cost more than
// decoding and screening the message. The pointer is a local variable, not a
// member of a writer object, so that the compiler can keep it in a register:
// a store through a char pointer may alias any object, and a pointer held in
// memory is reloaded after every byte written.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string_view>

#include "px/JsonString.hpp"

namespace qs {

class OutputBuffer {
 public:
  explicit OutputBuffer(std::size_t capacity = 1 << 17)
      : _data(std::make_unique_for_overwrite<char[]>(capacity)), _capacity(capacity) {}

  const char* data() const { return _data.get(); }
  std::size_t size() const { return _size; }
  bool empty() const { return _size == 0; }
  void clear() { _size = 0; }

  void append(std::string_view s) {
    std::memcpy(room(s.size()), s.data(), s.size());
    _size += s.size();
  }

  // The end of the data, with room for at least `n` more bytes. Writing there
  // adds nothing until commit().
  char* room(std::size_t n) {
    if (_capacity - _size < n) grow(n);
    return _data.get() + _size;
  }
  // Takes what was written from room() up to `end`. A record must stay within
  // the room its writer counted (`limit`); past it, memory beyond the buffer
  // may already be damaged, and carrying on would hide the fault.
  void commit(const char* end, const char* limit) {
    if (end > limit) std::abort();
    _size = static_cast<std::size_t>(end - _data.get());
  }

 private:
  void grow(std::size_t n) {
    std::size_t capacity = std::max(_capacity * 2, _size + n);
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
    std::memcpy(bigger.get(), _data.get(), _size);
    _data = std::move(bigger);
    _capacity = capacity;
  }

  std::unique_ptr<char[]> _data;
  std::size_t _size = 0;
  std::size_t _capacity;
};

// Pieces of a record. Each writes at `p` and returns the position after what
// it wrote; the caller has reserved room for the most each piece can write
// (the bounds below), plus kSlack once per record.
namespace put {

// Room beyond the last piece: a piece may store a whole block (spaces, a
// FixedText) and then write over part of it, storing up to this far past the
// place it started at.
inline constexpr std::size_t kSlack = 256;
// The longest decimal integer: "-9223372036854775808", "18446744073709551615".
inline constexpr std::size_t kMaxInteger = 20;
using px::maxJsonString;

namespace detail {

inline constexpr std::array<char, 32> kSpaces = [] {
  std::array<char, 32> a{};
  a.fill(' ');
  return a;
}();

inline constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> t{};
  for (int i = 0; i < 100; ++i) {
    t[2 * i] = static_cast<char>('0' + i / 10);
    t[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return t;
}();

inline std::size_t digitCount(std::uint64_t u) {
  static constexpr std::uint64_t kPowers[] = {1ULL,
                                              10ULL,
                                              100ULL,
                                              1000ULL,
                                              10000ULL,
                                              100000ULL,
                                              1000000ULL,
                                              10000000ULL,
                                              100000000ULL,
                                              1000000000ULL,
                                              10000000000ULL,
                                              100000000000ULL,
                                              1000000000000ULL,
                                              10000000000000ULL,
                                              100000000000000ULL,
                                              1000000000000000ULL,
                                              10000000000000000ULL,
                                              100000000000000000ULL,
                                              1000000000000000000ULL,
                                              10000000000000000000ULL};
  // log10 from the bit length (1233 / 4096 is just above log10(2)), then one
  // comparison to correct it.
  // u | 1 has as many digits as u, and 0 gets one.
  const std::uint64_t x = u | 1;
  std::size_t t = static_cast<std::size_t>(std::bit_width(x)) * 1233 >> 12;
  return t + (x >= kPowers[t]);
}

// The digits of `u`, ending at `end`. Below 2^32 a division by 100 is one
// multiply and a shift; above, a wide multiply and several fix-ups: the
// numbers a record shows nearly always fit in 32 bits.
inline void digitsBackward(char* end, std::uint64_t u) {
  while (u > 0xFFFFFFFFu) {
    end -= 2;
    std::memcpy(end, &kDigitPairs[2 * (u % 100)], 2);
    u /= 100;
  }
  auto v = static_cast<std::uint32_t>(u);
  while (v >= 100) {
    const std::uint32_t q = v / 100;
    end -= 2;
    std::memcpy(end, &kDigitPairs[2 * (v - q * 100)], 2);
    v = q;
  }
  if (v >= 10) {
    std::memcpy(end - 2, &kDigitPairs[2 * v], 2);
  } else {
    end[-1] = static_cast<char>('0' + v);
  }
}

inline std::uint64_t magnitude(std::int64_t v) {
  // In unsigned arithmetic, so that the most negative value works.
  return v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
}

}  // namespace detail

// A literal: its length is known here, so the copy is a few fixed moves.
template <std::size_t N>
inline char* literal(char* p, const char (&s)[N]) {
  std::memcpy(p, s, N - 1);
  return p + N - 1;
}

inline char* character(char* p, char c) {
  *p = c;
  return p + 1;
}

// Writes `s`.
inline char* text(char* p, std::string_view s) {
  return px::writeText(p, s);
}

// n spaces; may store up to kSlack bytes.
inline char* spaces(char* p, std::size_t n) {
  if (n > detail::kSpaces.size())
    std::memset(p, ' ', n);
  else
    std::memcpy(p, detail::kSpaces.data(), detail::kSpaces.size());
  return p + n;
}

// `s`, then spaces up to `width` (left-aligned; a longer text is not cut).
// Takes room for max(width, s.size()).
inline char* padded(char* p, std::string_view s, std::size_t width) {
  if (width <= detail::kSpaces.size())
    std::memcpy(p, detail::kSpaces.data(), detail::kSpaces.size());
  else if (s.size() < width)
    std::memset(p + s.size(), ' ', width - s.size());
  text(p, s);
  return p + std::max(width, s.size());
}

// Spaces, then `s` ending at `width` (right-aligned).
inline char* right(char* p, std::string_view s, std::size_t width) {
  if (s.size() < width) p = spaces(p, width - s.size());
  return text(p, s);
}

// A text known before the record is written, kept in N bytes (N a
// compile-time constant) and copied whole: a copy of a fixed size is a few
// moves, where one of a length known only at run time takes branches or a
// call. What lies past the text is written over by the pieces after it.
template <std::size_t N>
struct FixedText {
  static_assert(N <= kSlack && N < 256, "a fixed copy stores N bytes; the size takes one");
  std::array<char, N> bytes{};
  std::uint8_t size = 0;

  constexpr FixedText() = default;
  // The parts one after the other; they must fit in N.
  constexpr FixedText(std::initializer_list<std::string_view> parts) {
    for (std::string_view part : parts) {
      // A compile-time table that does not fit fails to compile here.
      if (size + part.size() > N) std::abort();
      for (char c : part) bytes[size++] = c;
    }
  }
  constexpr std::string_view view() const { return std::string_view(bytes.data(), size); }
};

// Writes `t`; stores N bytes.
template <std::size_t N>
inline char* fixed(char* p, const FixedText<N>& t) {
  std::memcpy(p, t.bytes.data(), N);
  return p + t.size;
}

inline char* boolean(char* p, bool b) {
  return b ? literal(p, "true") : literal(p, "false");
}

// Decimal, as std::to_chars and {fmt} write it. At most kMaxInteger.
inline char* unsignedInteger(char* p, std::uint64_t u) {
  // Indexes, TT, SI: one digit is common enough to skip the counting.
  if (u < 10) return character(p, static_cast<char>('0' + u));
  std::size_t n = detail::digitCount(u);
  detail::digitsBackward(p + n, u);
  return p + n;
}
inline char* integer(char* p, std::int64_t v) {
  if (v < 0) *p++ = '-';
  return unsignedInteger(p, detail::magnitude(v));
}
// Right-aligned in `width` (at most kSlack); room for max(width, kMaxInteger).
inline char* integerRight(char* p, std::int64_t v, std::size_t width) {
  std::uint64_t u = detail::magnitude(v);
  std::size_t n = detail::digitCount(u) + (v < 0);
  if (n < width) p = spaces(p, width - n);
  if (v < 0) *p++ = '-';
  return unsignedInteger(p, u);
}
inline char* unsignedIntegerRight(char* p, std::uint64_t u, std::size_t width) {
  std::size_t n = detail::digitCount(u);
  if (n < width) p = spaces(p, width - n);
  return unsignedInteger(p, u);
}

// A JSON string, as the host writes one. At most maxJsonString(s.size()).
inline char* jsonString(char* p, std::string_view s) {
  return px::writeJsonString(p, s);
}

namespace detail {

// True when all eight bytes of `w` are '0' to '9'. A byte below '0' borrows
// and one above '9' (or at 0x80 and up) sets its high bit in one of the two
// sums; a borrow or carry can only flag a byte next to one already flagged.
inline bool eightDigits(std::uint64_t w) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  return (((w - '0' * kOnes) | (w + (0x7F - '9') * kOnes)) & (0x80 * kOnes)) == 0;
}

}  // namespace detail

// As jsonString; a text of at least eight decimal digits (an IMSI) is
// recognised eight bytes at a time and copied as it is.
inline char* jsonDigitString(char* p, std::string_view s) {
  const std::size_t n = s.size();
  if (n >= 8 && n <= 16) {
    std::uint64_t head, tail;
    std::memcpy(&head, s.data(), 8);
    std::memcpy(&tail, s.data() + n - 8, 8);
    if (detail::eightDigits(head) && detail::eightDigits(tail)) {
      *p = '"';
      p = text(p + 1, s);
      *p = '"';
      return p + 1;
    }
  }
  return jsonString(p, s);
}

}  // namespace put

}  // namespace qs
