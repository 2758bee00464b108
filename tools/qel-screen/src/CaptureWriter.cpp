#include "CaptureWriter.hpp"

#include <fmt/format.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qs {

namespace {

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// The snapshot length written in file headers: frames are copied whole, so it
// only has to be no smaller than the largest of them.
constexpr std::uint32_t kSnapLength = 262144;

class PcapWriter final : public CaptureWriter {
 public:
  PcapWriter(pcap_t* dead, pcap_dumper_t* dumper, int linkType, bool nano)
      : _dead(dead), _dumper(dumper), _linkType(linkType), _nano(nano) {}
  ~PcapWriter() override {
    if (_dumper) pcap_dump_close(_dumper);
    pcap_close(_dead);
  }

 private:
  void write(const Stored& h, Bytes bytes, std::string_view) override {
    if (h.linkType != _linkType) {
      fail(fmt::format("{}: frame {} has link type {}, the file {}; write .pcapng to mix them",
                       _path, h.number, h.linkType, _linkType));
      return;
    }
    pcap_pkthdr ph{};
    // Whole seconds rounded down, also before 1970.
    std::int64_t seconds = h.timeNs / 1'000'000'000 - (h.timeNs % 1'000'000'000 < 0);
    auto ns = static_cast<std::uint32_t>(h.timeNs - seconds * 1'000'000'000);
    ph.ts.tv_sec = static_cast<time_t>(seconds);
    ph.ts.tv_usec = static_cast<suseconds_t>(_nano ? ns : ns / 1000);
    ph.caplen = static_cast<bpf_u_int32>(bytes.size());
    ph.len = std::max<bpf_u_int32>(h.originalLength, ph.caplen);
    pcap_dump(reinterpret_cast<u_char*>(_dumper), &ph, bytes.data());
  }
  bool finish() override {
    if (!_dumper) return true;
    bool ok = pcap_dump_flush(_dumper) == 0 && !std::ferror(pcap_dump_file(_dumper));
    pcap_dump_close(_dumper);
    _dumper = nullptr;
    if (!ok) fail(fmt::format("{}: {}", _path, std::strerror(errno ? errno : EIO)));
    return ok;
  }

  pcap_t* _dead;
  pcap_dumper_t* _dumper;
  int _linkType;
  bool _nano;
};

// pcapng (draft-ietf-opsawg-pcapng): one section; an interface description
// per link type met, with nanosecond timestamps; an enhanced packet block per
// frame with its comment. Written in the machine's byte order, as the format
// allows (the section header's magic tells readers which it is).
class PcapngWriter final : public CaptureWriter {
 public:
  explicit PcapngWriter(std::FILE* file) : _file(file) {
    std::string b;
    put32(b, 0x0A0D0D0A);
    put32(b, 0);  // length, set by endBlock
    put32(b, 0x1A2B3C4D);
    put16(b, 1);
    put16(b, 0);
    put32(b, 0xFFFFFFFF);  // section length unknown (64 bits)
    put32(b, 0xFFFFFFFF);
    option(b, 4, "qel-screen");  // shb_userappl
    option(b, 0, {});
    endBlock(b);
  }
  ~PcapngWriter() override {
    if (_file) std::fclose(_file);
  }

 private:
  static void put16(std::string& b, std::uint16_t v) { b.append(reinterpret_cast<char*>(&v), 2); }
  static void put32(std::string& b, std::uint32_t v) { b.append(reinterpret_cast<char*>(&v), 4); }
  static void pad(std::string& b) { b.append((4 - b.size() % 4) % 4, '\0'); }
  static void option(std::string& b, std::uint16_t code, std::string_view value) {
    put16(b, code);
    put16(b, static_cast<std::uint16_t>(value.size()));
    b.append(value);
    pad(b);
  }
  void endBlock(std::string& b) {
    put32(b, 0);
    auto length = static_cast<std::uint32_t>(b.size());
    std::memcpy(b.data() + 4, &length, 4);
    std::memcpy(b.data() + b.size() - 4, &length, 4);
    if (std::fwrite(b.data(), 1, b.size(), _file) != b.size())
      fail(fmt::format("{}: {}", _path, std::strerror(errno ? errno : EIO)));
  }

  std::uint32_t interfaceFor(int linkType) {
    for (std::size_t i = 0; i < _interfaces.size(); ++i)
      if (_interfaces[i] == linkType) return static_cast<std::uint32_t>(i);
    std::string b;
    put32(b, 1);
    put32(b, 0);
    put16(b, static_cast<std::uint16_t>(linkType));
    put16(b, 0);
    put32(b, kSnapLength);
    option(b, 9, std::string_view("\x09", 1));  // if_tsresol: 10^-9 s
    option(b, 0, {});
    endBlock(b);
    _interfaces.push_back(linkType);
    return static_cast<std::uint32_t>(_interfaces.size() - 1);
  }

  void write(const Stored& h, Bytes bytes, std::string_view comment) override {
    std::uint32_t interface = interfaceFor(h.linkType);
    auto ts = static_cast<std::uint64_t>(h.timeNs);
    std::string& b = _block;
    b.clear();
    put32(b, 6);
    put32(b, 0);
    put32(b, interface);
    put32(b, static_cast<std::uint32_t>(ts >> 32));
    put32(b, static_cast<std::uint32_t>(ts));
    put32(b, static_cast<std::uint32_t>(bytes.size()));
    put32(b, std::max(h.originalLength, static_cast<std::uint32_t>(bytes.size())));
    b.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    pad(b);
    if (!comment.empty()) {
      // An option's length field has 16 bits.
      option(b, 1, comment.substr(0, 0xFFF0));  // opt_comment
      option(b, 0, {});
    }
    endBlock(b);
  }
  bool finish() override {
    if (!_file) return true;
    bool ok = std::fflush(_file) == 0 && !std::ferror(_file);
    if (std::fclose(_file) != 0) ok = false;
    _file = nullptr;
    if (!ok) fail(fmt::format("{}: {}", _path, std::strerror(errno ? errno : EIO)));
    return ok;
  }

  std::FILE* _file;
  std::vector<int> _interfaces;
  std::string _block;
};

}  // namespace

bool CaptureWriter::isPcapng(std::string_view path) {
  return endsWith(path, ".pcapng");
}

std::unique_ptr<CaptureWriter> CaptureWriter::open(const std::string& path, int linkType,
                                                   bool nanosecond, std::string& error) {
  std::unique_ptr<CaptureWriter> w;
  if (isPcapng(path)) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
      error = std::strerror(errno);
      return nullptr;
    }
    w = std::make_unique<PcapngWriter>(f);
  } else {
    pcap_t* dead = pcap_open_dead_with_tstamp_precision(
        linkType, kSnapLength,
        nanosecond ? PCAP_TSTAMP_PRECISION_NANO : PCAP_TSTAMP_PRECISION_MICRO);
    if (!dead) {
      error = "cannot prepare a pcap file";
      return nullptr;
    }
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    if (!dumper) {
      error = pcap_geterr(dead);
      // libpcap names the file itself; the caller names it too.
      if (auto at = error.find(path + ": "); at == 0) error.erase(0, path.size() + 2);
      pcap_close(dead);
      return nullptr;
    }
    w = std::make_unique<PcapWriter>(dead, dumper, linkType, nanosecond);
  }
  w->_path = path;
  return w;
}

void CaptureWriter::beginFrame(int linkType, const Frame& frame) {
  _current = Stored{linkType, frame.number, frame.timeNs, frame.originalLength};
  _currentBytes = frame.bytes;
  _inFrame = true;
  _currentSelected = false;
  _comment.clear();
}

void CaptureWriter::select(std::initializer_list<std::span<const std::uint64_t>> frames,
                           std::string_view comment) {
  _currentSelected = true;
  if (!_comment.empty()) _comment += '\n';
  _comment += comment;
  for (auto list : frames)
    for (auto n : list)
      if (n != _current.number)
        _needed.push_back(
            {n, fmt::format("fragment of a message in frame {}: {}", _current.number, comment)});
}

void CaptureWriter::selectFrames(std::span<const std::uint64_t> frames, std::string_view comment) {
  for (auto n : frames) {
    if (_inFrame && n == _current.number) {
      _currentSelected = true;
      if (!_comment.empty()) _comment += '\n';
      _comment += comment;
    } else {
      _needed.push_back({n, std::string(comment)});
    }
  }
}

CaptureWriter::Held* CaptureWriter::held(std::uint64_t number) {
  for (auto& h : _held)
    if (h.header.number == number) return &h;
  return nullptr;
}

void CaptureWriter::writeNeeded() {
  // Earlier frames first, each once with every comment it got.
  std::stable_sort(_needed.begin(), _needed.end(),
                   [](const Needed& a, const Needed& b) { return a.number < b.number; });
  for (std::size_t i = 0; i < _needed.size();) {
    std::size_t j = i + 1;
    std::string comment = std::move(_needed[i].comment);
    for (; j < _needed.size() && _needed[j].number == _needed[i].number; ++j)
      comment += '\n' + _needed[j].comment;
    Held* h = held(_needed[i].number);
    if (!h)
      ++_lost;
    else if (!h->written) {
      write(h->header, h->bytes, comment);
      h->written = true;
      ++_written;
    }
    i = j;
  }
  _needed.clear();
}

void CaptureWriter::writeSelectedHeld() {
  if (!_inFrame) writeNeeded();
}

void CaptureWriter::newSource() {
  writeSelectedHeld();
  _held.clear();
  _heldBytes = 0;
}

void CaptureWriter::endFrame(bool keep) {
  writeNeeded();
  if (_currentSelected) {
    write(_current, _currentBytes, _comment);
    ++_written;
  }
  _inFrame = false;
  if (!keep) return;
  Held h;
  h.header = _current;
  h.bytes.assign(_currentBytes.begin(), _currentBytes.end());
  h.written = _currentSelected;
  _heldBytes += h.bytes.size();
  _held.push_back(std::move(h));
  while (_held.size() > kMaxHeldFrames || _heldBytes > kMaxHeldBytes) {
    _heldBytes -= _held.front().bytes.size();
    _held.pop_front();
  }
}

bool CaptureWriter::close() {
  writeSelectedHeld();
  finish();
  return _error.empty();
}

}  // namespace qs
