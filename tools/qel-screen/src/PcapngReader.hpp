// A reader of pcapng files in which every interface keeps its own link type,
// which libpcap cannot read (it allows one link type per file). It reads the
// blocks that make frames and their interfaces: section header, interface
// description, enhanced, simple and obsolete packet blocks, in either byte
// order, section after section; every other block is passed over.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Bytes.hpp"

namespace qs {

class PcapngReader {
 public:
  struct Interface {
    int linkType = 0;
    std::uint32_t snapLength = 0;  // 0: none
    // Time stamp unit: 10^-n s, or 2^-n s when `binary`.
    std::uint8_t resolution = 6;
    bool binary = false;
    std::int64_t offsetSeconds = 0;
  };

  struct Packet {
    Bytes bytes;  // valid until the next call to next()
    int linkType = 0;
    std::int64_t timeNs = 0;  // since 1970, saturated at the int64 range
    std::uint32_t interface = 0;
  };

  enum class Next { packet, end, damaged };

  // Reads from `stream` (not owned) positioned at the first section header.
  explicit PcapngReader(std::FILE* stream) : _stream(stream) {}

  Next next(Packet& packet);
  // After Next::damaged: what is wrong.
  const std::string& error() const { return _error; }
  // The interfaces of the current section, as read so far.
  const std::vector<Interface>& interfaces() const { return _interfaces; }

  // Blocks larger than this are refused as damage rather than allocated.
  static constexpr std::uint32_t kMaxBlock = 16u << 20;

 private:
  enum class Block { packet, other, end, damaged };
  Block readBlock(Packet& packet);
  Block damaged(std::string why);
  Block sectionHeader(Bytes body);
  Block interfaceDescription(Bytes body);
  Block packetData(Packet& packet, std::uint32_t interface, std::uint64_t stamp,
                   std::uint32_t captured, Bytes data);
  std::uint16_t u16(Bytes b, std::size_t at) const;
  std::uint32_t u32(Bytes b, std::size_t at) const;

  std::FILE* _stream;
  std::vector<std::uint8_t> _block;
  std::vector<Interface> _interfaces;
  std::string _error;
  bool _bigEndian = false;
  bool _inSection = false;
  bool _failed = false;
};

}  // namespace qs
