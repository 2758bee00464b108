// The byte view every layer of the tool reads, and its big-endian readers.
#pragma once

#include <cstdint>
#include <span>

#include "px/BigEndian.hpp"

namespace qs {

using Bytes = std::span<const std::uint8_t>;
using px::be16;
using px::be32;

}  // namespace qs
