#include "PcapngReader.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace qs {

namespace {

// pcapng block types (IETF draft-ietf-opsawg-pcapng).
constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescription = 1;
constexpr std::uint32_t kObsoletePacket = 2;
constexpr std::uint32_t kSimplePacket = 3;
constexpr std::uint32_t kEnhancedPacket = 6;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
// Interface description options.
constexpr std::uint16_t kOptEnd = 0;
constexpr std::uint16_t kOptTsResolution = 9;
constexpr std::uint16_t kOptTsOffset = 14;

constexpr std::int64_t kNsPerSecond = 1'000'000'000;

std::int64_t saturatedAdd(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_add_overflow(a, b, &r))
    return b > 0 ? std::numeric_limits<std::int64_t>::max()
                 : std::numeric_limits<std::int64_t>::min();
  return r;
}

std::int64_t saturatedMul(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_mul_overflow(a, b, &r))
    return (a < 0) != (b < 0) ? std::numeric_limits<std::int64_t>::min()
                              : std::numeric_limits<std::int64_t>::max();
  return r;
}

// A time stamp in the interface's unit, in nanoseconds since 1970.
std::int64_t toNanoseconds(const PcapngReader::Interface& i, std::uint64_t stamp) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t ns;
  if (i.binary) {
    if (i.resolution >= 64) {
      ns = static_cast<std::int64_t>(std::ldexp(static_cast<double>(stamp), -i.resolution) * 1e9);
    } else {
      std::uint64_t seconds = stamp >> i.resolution;
      std::uint64_t fraction = stamp & ((std::uint64_t{1} << i.resolution) - 1);
      ns = seconds > static_cast<std::uint64_t>(kMax / kNsPerSecond)
               ? kMax
               : static_cast<std::int64_t>(seconds) * kNsPerSecond +
                     static_cast<std::int64_t>(
                         std::ldexp(static_cast<double>(fraction), -i.resolution) * 1e9);
    }
  } else {
    std::int64_t value =
        stamp > static_cast<std::uint64_t>(kMax) ? kMax : static_cast<std::int64_t>(stamp);
    if (i.resolution <= 9) {
      std::int64_t unit = 1;
      for (int k = i.resolution; k < 9; ++k) unit *= 10;
      ns = saturatedMul(value, unit);
    } else {
      ns = value;
      for (int k = 9; k < i.resolution && ns != 0; ++k) ns /= 10;
    }
  }
  return saturatedAdd(ns, saturatedMul(i.offsetSeconds, kNsPerSecond));
}

}  // namespace

// Fields are read whole and swapped when the section's order is not the
// machine's: one load instead of four per field, on every block.
std::uint16_t PcapngReader::u16(Bytes b, std::size_t at) const {
  std::uint16_t v;
  std::memcpy(&v, b.data() + at, sizeof v);
  bool swap = _bigEndian == (std::endian::native == std::endian::little);
  return swap ? __builtin_bswap16(v) : v;
}

std::uint32_t PcapngReader::u32(Bytes b, std::size_t at) const {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, sizeof v);
  bool swap = _bigEndian == (std::endian::native == std::endian::little);
  return swap ? __builtin_bswap32(v) : v;
}

PcapngReader::Block PcapngReader::damaged(std::string why) {
  _error = std::move(why);
  _failed = true;
  return Block::damaged;
}

PcapngReader::Next PcapngReader::next(Packet& packet) {
  if (_failed) return Next::damaged;
  for (;;) {
    switch (readBlock(packet)) {
      case Block::packet:
        return Next::packet;
      case Block::other:
        continue;
      case Block::end:
        return Next::end;
      case Block::damaged:
        return Next::damaged;
    }
  }
}

PcapngReader::Block PcapngReader::readBlock(Packet& packet) {
  // Type and total length; for a section header also the byte-order magic,
  // which says how to read the length.
  std::uint8_t head[12];
  std::size_t got = std::fread(head, 1, 8, _stream);
  if (got == 0 && !std::ferror(_stream)) return Block::end;
  if (got < 8) return damaged("truncated block header");
  Bytes h(head, sizeof head);
  std::uint32_t type;
  std::size_t headLength = 8;
  if (be32(h, 0) == kSectionHeader) {
    if (std::fread(head + 8, 1, 4, _stream) < 4) return damaged("truncated section header");
    headLength = 12;
    if (be32(h, 8) == kByteOrderMagic)
      _bigEndian = true;
    else if (be32(h, 8) == 0x4D3C2B1A)
      _bigEndian = false;
    else
      return damaged("section header with an unknown byte-order magic");
    type = kSectionHeader;
  } else {
    if (!_inSection) return damaged("no section header before the first block");
    type = u32(h, 0);
  }
  std::uint32_t length = u32(h, 4);
  if (length < 12 || length % 4 != 0 || length < headLength + 4)
    return damaged(fmt::format("block of type {:#x} with an impossible length {}", type, length));
  if (length > kMaxBlock)
    return damaged(
        fmt::format("block of type {:#x} of {} octets, more than {}", type, length, kMaxBlock));
  // The buffer grows with what is actually read, never ahead of it on the
  // word of a length field; it is only ever enlarged, so that its octets are
  // not cleared again for every block.
  if (_block.size() < headLength) _block.resize(headLength);
  std::memcpy(_block.data(), head, headLength);
  for (std::size_t at = headLength; at < length;) {
    std::size_t chunk = std::min<std::size_t>(length - at, 1 << 16);
    if (_block.size() < at + chunk) _block.resize(at + chunk);
    if (std::fread(_block.data() + at, 1, chunk, _stream) < chunk)
      return damaged(fmt::format("truncated block of type {:#x}", type));
    at += chunk;
  }
  Bytes block(_block.data(), length);
  if (u32(block, length - 4) != length)
    return damaged(fmt::format("block of type {:#x} whose trailing length differs", type));
  Bytes body = block.subspan(8, length - 12);

  switch (type) {
    case kSectionHeader:
      return sectionHeader(body);
    case kInterfaceDescription:
      return interfaceDescription(body);
    case kEnhancedPacket:
      // Interface, time stamp (high, low), captured and original length.
      if (body.size() < 20) return damaged("enhanced packet block too short");
      return packetData(packet, u32(body, 0), std::uint64_t{u32(body, 4)} << 32 | u32(body, 8),
                        u32(body, 12), body.subspan(20));
    case kObsoletePacket:
      // Interface (16 bits), drops (16), time stamp, captured and original length.
      if (body.size() < 20) return damaged("packet block too short");
      return packetData(packet, u16(body, 0), std::uint64_t{u32(body, 4)} << 32 | u32(body, 8),
                        u32(body, 12), body.subspan(20));
    case kSimplePacket: {
      // The original length only; what was captured is what fits the block
      // and the snap length of interface 0.
      if (body.size() < 4) return damaged("simple packet block too short");
      if (_interfaces.empty()) return damaged("simple packet block without an interface");
      std::uint64_t captured = u32(body, 0);
      captured = std::min<std::uint64_t>(captured, body.size() - 4);
      if (_interfaces[0].snapLength)
        captured = std::min<std::uint64_t>(captured, _interfaces[0].snapLength);
      return packetData(packet, 0, 0, static_cast<std::uint32_t>(captured), body.subspan(4));
    }
    default:
      return Block::other;
  }
}

PcapngReader::Block PcapngReader::sectionHeader(Bytes body) {
  // Byte-order magic, major and minor version, section length, options.
  if (body.size() < 16) return damaged("section header too short");
  std::uint16_t major = u16(body, 4);
  if (major != 1)
    return damaged(fmt::format("section of pcapng version {}.{}, not 1", major, u16(body, 6)));
  _inSection = true;
  // Interface numbers start again in every section.
  _interfaces.clear();
  return Block::other;
}

PcapngReader::Block PcapngReader::interfaceDescription(Bytes body) {
  // Link type, reserved, snap length, options.
  if (body.size() < 8) return damaged("interface description block too short");
  Interface i;
  i.linkType = u16(body, 0);
  i.snapLength = u32(body, 4);
  for (std::size_t at = 8; body.size() - at >= 4;) {
    std::uint16_t code = u16(body, at);
    std::size_t length = u16(body, at + 2);
    at += 4;
    if (code == kOptEnd) break;
    if (length > body.size() - at) return damaged("interface option past its block");
    if (code == kOptTsResolution && length == 1) {
      i.binary = (body[at] & 0x80) != 0;
      i.resolution = body[at] & 0x7F;
    } else if (code == kOptTsOffset && length == 8) {
      std::uint64_t v = _bigEndian ? std::uint64_t{u32(body, at)} << 32 | u32(body, at + 4)
                                   : std::uint64_t{u32(body, at + 4)} << 32 | u32(body, at);
      i.offsetSeconds = static_cast<std::int64_t>(v);
    }
    at += (length + 3) & ~std::size_t{3};
    if (at > body.size()) break;
  }
  if (_interfaces.size() >= 65536) return damaged("more than 65536 interfaces in a section");
  _interfaces.push_back(i);
  return Block::other;
}

PcapngReader::Block PcapngReader::packetData(Packet& packet, std::uint32_t interface,
                                             std::uint64_t stamp, std::uint32_t captured,
                                             Bytes data) {
  if (interface >= _interfaces.size())
    return damaged(fmt::format("packet on interface {}, but the section describes {}", interface,
                               _interfaces.size()));
  if (captured > data.size())
    return damaged(
        fmt::format("packet of {} captured octets in a block of {}", captured, data.size()));
  const Interface& i = _interfaces[interface];
  packet.bytes = data.first(captured);
  packet.linkType = i.linkType;
  packet.interface = interface;
  packet.timeNs = toNanoseconds(i, stamp);
  return Block::packet;
}

}  // namespace qs
