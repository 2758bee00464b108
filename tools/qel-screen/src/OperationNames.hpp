// Names of the MAP operations by local operation code (3GPP TS 29.002 17.5).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qs {

// The operation's name, or nullopt for a code MAP does not assign.
std::optional<std::string_view> mapOperationName(std::int64_t code);

}  // namespace qs
