#include "Direction.hpp"

#include <arpa/inet.h>

#include <charconv>

#include "px/sccp/SccpPacket.hpp"

namespace qs {

namespace {

std::optional<std::uint32_t> decimal(std::string_view t, std::uint32_t limit) {
  std::uint32_t v = 0;
  if (t.empty()) return std::nullopt;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || end != t.data() + t.size() || v >= limit) return std::nullopt;
  return v;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<std::uint32_t> parsePointCode(std::string_view text) {
  text = trim(text);
  const auto dash = text.find('-');
  if (dash == std::string_view::npos) return decimal(text, 1u << 24);
  const auto dash2 = text.find('-', dash + 1);
  if (dash2 == std::string_view::npos) return std::nullopt;
  auto zone = decimal(text.substr(0, dash), 8);
  auto area = decimal(text.substr(dash + 1, dash2 - dash - 1), 256);
  auto sp = decimal(text.substr(dash2 + 1), 8);
  if (!zone || !area || !sp) return std::nullopt;
  return *zone * 2048 + *area * 8 + *sp;
}

std::optional<IpPrefix> IpPrefix::parse(std::string_view text) {
  text = trim(text);
  IpPrefix p;
  std::string address(text.substr(0, text.find('/')));
  if (inet_pton(AF_INET, address.c_str(), p.address.data()) == 1) {
    p.version = 4;
    p.bits = 32;
  } else if (inet_pton(AF_INET6, address.c_str(), p.address.data()) == 1) {
    p.version = 6;
    p.bits = 128;
  } else {
    return std::nullopt;
  }
  if (auto slash = text.find('/'); slash != std::string_view::npos) {
    auto bits = decimal(text.substr(slash + 1), p.bits + 1);
    if (!bits) return std::nullopt;
    p.bits = *bits;
  }
  return p;
}

bool IpPrefix::contains(std::uint8_t v, const std::array<std::uint8_t, 16>& a) const {
  if (v != version) return false;
  unsigned whole = bits / 8;
  for (unsigned i = 0; i < whole; ++i)
    if (a[i] != address[i]) return false;
  if (unsigned rest = bits % 8) {
    auto mask = static_cast<std::uint8_t>(0xFF << (8 - rest));
    if ((a[whole] & mask) != (address[whole] & mask)) return false;
  }
  return true;
}

bool HomeNetwork::addPointCodes(const std::vector<std::string>& values, std::string& bad) {
  for (const auto& v : values) {
    auto pc = parsePointCode(v);
    if (!pc) return bad = v, false;
    _pointCodes.push_back(*pc);
  }
  _havePc = _havePc || !values.empty();
  return true;
}

bool HomeNetwork::addIpPrefixes(const std::vector<std::string>& values, std::string& bad) {
  for (const auto& v : values) {
    auto p = IpPrefix::parse(v);
    if (!p) return bad = v, false;
    _prefixes.push_back(*p);
  }
  _haveIp = _haveIp || !values.empty();
  return true;
}

bool HomeNetwork::addGlobalTitles(const std::vector<std::string>& values, std::string& bad) {
  for (const auto& v : values) {
    std::string_view t = trim(v);
    if (t.empty()) return bad = v, false;
    for (char c : t)
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
        return bad = v, false;
    std::string digits(t);
    for (char& c : digits)
      if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    _titles.push_back(std::move(digits));
  }
  _haveGt = _haveGt || !values.empty();
  return true;
}

bool HomeNetwork::inbound(const MessageOrigin& origin, const PXSCCP_Packet* packet) const {
  if (_havePc) {
    if (!origin.dpc) return false;
    bool hit = false;
    for (auto pc : _pointCodes) hit = hit || pc == *origin.dpc;
    if (!hit) return false;
  }
  if (_haveIp) {
    if (origin.ipVersion == 0) return false;
    bool hit = false;
    for (const auto& p : _prefixes) hit = hit || p.contains(origin.ipVersion, origin.dst);
    if (!hit) return false;
  }
  if (_haveGt) {
    const SccpAddress* called = packet ? packet->incomingCalledPartyAddress() : nullptr;
    auto digits = called ? called->address() : std::nullopt;
    if (!digits) return false;
    bool hit = false;
    for (const auto& t : _titles) hit = hit || digits->starts_with(t);
    if (!hit) return false;
  }
  return true;
}

}  // namespace qs
