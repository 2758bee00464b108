// Which messages of a two-way capture arrive at the home network: a signalling
// node screens only those. The home network is described by point codes, IP
// prefixes and called global title prefixes; a message is inbound when it
// matches every kind given (any value within a kind).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Origin.hpp"

class PXSCCP_Packet;

namespace qs {

// "2-100-3" (ITU 3-8-3) or a decimal integer below 2^24 (and below 2^14 for
// 3-8-3 parts); nullopt for anything else.
std::optional<std::uint32_t> parsePointCode(std::string_view text);

struct IpPrefix {
  std::uint8_t version = 4;
  std::array<std::uint8_t, 16> address{};
  unsigned bits = 32;
  // "10.0.0.0/8", "2001:db8::/32", or an address alone (all its bits).
  static std::optional<IpPrefix> parse(std::string_view text);
  bool contains(std::uint8_t version, const std::array<std::uint8_t, 16>& address) const;
};

class HomeNetwork {
 public:
  // Each adds values of one kind; false (and `bad` set to the value) when one
  // does not parse.
  bool addPointCodes(const std::vector<std::string>& values, std::string& bad);
  bool addIpPrefixes(const std::vector<std::string>& values, std::string& bad);
  bool addGlobalTitles(const std::vector<std::string>& values, std::string& bad);

  // No kind given: every message is inbound.
  bool everything() const { return !_havePc && !_haveIp && !_haveGt; }
  // `packet` may be null (nothing decoded: no called address).
  bool inbound(const MessageOrigin& origin, const PXSCCP_Packet* packet) const;

 private:
  std::vector<std::uint32_t> _pointCodes;
  std::vector<IpPrefix> _prefixes;
  std::vector<std::string> _titles;
  bool _havePc = false;
  bool _haveIp = false;
  bool _haveGt = false;
};

}  // namespace qs
