// The pcapng block reader on any file: every packet it gives lies inside the
// block it read, and the reader stops at damage.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "PcapngReader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::vector<std::uint8_t> copy(data, data + size);
  std::FILE* f = fmemopen(copy.data(), copy.size(), "rb");
  if (!f) return 0;
  qs::PcapngReader reader(f);
  qs::PcapngReader::Packet p;
  unsigned sum = 0;
  int packets = 0;
  while (reader.next(p) == qs::PcapngReader::Next::packet) {
    if (p.bytes.size() > size) std::abort();
    for (auto b : p.bytes) sum += b;  // every octet must be readable
    if (p.interface >= reader.interfaces().size()) std::abort();
    ++packets;
  }
  // After the end or damage, it stays there.
  if (reader.next(p) == qs::PcapngReader::Next::packet) std::abort();
  std::fclose(f);
  return static_cast<int>(sum & 0) + (packets & 0);
}
