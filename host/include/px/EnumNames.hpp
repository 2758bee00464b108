// Names of enumeration values, kept as one table per enumeration beside it.
#pragma once

#include <string_view>

namespace px {

template <class E>
struct EnumName {
  E value;
  std::string_view name;
};

// The name that `table` gives `value`, or `fallback` for a value it lacks.
template <class E, std::size_t N>
constexpr std::string_view enumName(E value, const EnumName<E> (&table)[N],
                                    std::string_view fallback = "unknown") {
  for (const EnumName<E>& entry : table) {
    if (entry.value == value) return entry.name;
  }
  return fallback;
}

}  // namespace px
