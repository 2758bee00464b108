#include "FrameSource.hpp"

#include <fmt/format.h>
#include <pcap/pcap.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "LinkLayer.hpp"
#include "PcapHandleSource.hpp"
#include "PcapngReader.hpp"

namespace qs {

namespace {

// Large reads: a capture is read once, front to back.
constexpr std::size_t kReadBuffer = 1 << 18;
// The longest line of a hex file: an SCCP message is at most a few KB, and
// its hex with separators and a comment fits many times over.
constexpr std::size_t kMaxHexLine = 64 * 1024;

// The first octets of a stream, put back in front of the rest for a reader
// that must see the whole stream but cannot seek (a pipe, standard input).
struct Prefixed {
  FILE* underlying;
  unsigned char head[4];
  std::size_t headLength;
  std::size_t headAt;
  // Unbuffered (a pipe): read(2) directly, taking what has come.
  bool direct;
};

ssize_t prefixedRead(void* cookie, char* buf, size_t size) {
  auto* p = static_cast<Prefixed*>(cookie);
  size_t n = 0;
  while (n < size && p->headAt < p->headLength) buf[n++] = static_cast<char>(p->head[p->headAt++]);
  if (n < size) {
    // One read(2): what a pipe holds now, not a buffer's worth, so that a
    // frame is read as soon as it has come.
    if (p->direct) {
      ssize_t got = ::read(fileno(p->underlying), buf + n, size - n);
      if (got < 0) return n == 0 ? -1 : static_cast<ssize_t>(n);
      n += static_cast<size_t>(got);
    } else {
      size_t got = fread(buf + n, 1, size - n, p->underlying);
      if (got == 0 && ferror(p->underlying) && n == 0) return -1;
      n += got;
    }
  }
  return static_cast<ssize_t>(n);
}

int prefixedClose(void* cookie) {
  auto* p = static_cast<Prefixed*>(cookie);
  int r = p->underlying == stdin ? 0 : fclose(p->underlying);
  delete p;
  return r;
}

bool isPcapMagic(const unsigned char* m, std::size_t n) {
  if (n < 4) return false;
  std::uint32_t v = (std::uint32_t{m[0]} << 24) | (m[1] << 16) | (m[2] << 8) | m[3];
  switch (v) {
    case 0xA1B2C3D4:
    case 0xD4C3B2A1:  // pcap, microseconds
    case 0xA1B23C4D:
    case 0x4D3CB2A1:  // pcap, nanoseconds
    case 0xA1B2CD34:
    case 0x34CDB2A1:  // pcap with Kuznetzov's extensions
    case 0x0A0D0D0A:  // pcapng section header block
      return true;
    default:
      return false;
  }
}

// A nanosecond pcap file header (either byte order).
bool isNanosecondPcap(const unsigned char* m, std::size_t n) {
  if (n < 4) return false;
  std::uint32_t v = (std::uint32_t{m[0]} << 24) | (m[1] << 16) | (m[2] << 8) | m[3];
  return v == 0xA1B23C4D || v == 0x4D3CB2A1;
}

// The standard pcap magic numbers (microseconds or nanoseconds), either byte
// order: no other record layout.
bool isStandardPcap(const unsigned char* m) {
  std::uint32_t v = (std::uint32_t{m[0]} << 24) | (m[1] << 16) | (m[2] << 8) | m[3];
  return v == 0xA1B2C3D4 || v == 0xD4C3B2A1 || v == 0xA1B23C4D || v == 0x4D3CB2A1;
}

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class PcapSource final : public PcapHandleSource {
 public:
  // Opened with nanosecond precision: tv_usec holds nanoseconds.
  PcapSource(std::string name, pcap_t* pcap, bool nano)
      : PcapHandleSource(std::move(name), pcap, nano, true) {}

  // Reads the records of a regular file itself, from `offset` on (see
  // BlockReader); libpcap takes over at the first record it cannot vouch for.
  void readBlocks(int fd, std::uint64_t offset, bool swapped, std::uint32_t snapshot) {
    _blocks.emplace(fd, offset, swapped, snapshot, nanosecond());
    _blocks->lend(_lender);
  }

  void lendBlocks(BlockLender* lender) override {
    _lender = lender;
    if (_blocks) _blocks->lend(lender);
  }

  Next next(Frame& f) override {
    if (_blocks && _blocks->next(f)) {
      stamp(f);
      return Next::frame;
    }
    return nextFromLibpcap(f);
  }

 private:
  // Past the blocks: the rest is libpcap's, from the record that was not taken.
  [[gnu::noinline]] Next nextFromLibpcap(Frame& f) {
    if (_blocks) {
      if (std::fseek(pcap_file(_pcap), static_cast<long>(_blocks->offset()), SEEK_SET) != 0) {
        _damage = std::strerror(errno);
        _blocks.reset();
        return Next::damaged;
      }
      _blocks.reset();
    }
    const int r = read(f);
    if (r == 1) return Next::frame;
    if (r == PCAP_ERROR_BREAK) return Next::end;
    _damage = pcap_geterr(_pcap);
    return Next::damaged;
  }

  // The records of a pcap file read in large blocks with pread(2) and handed
  // out where they lie in the block: libpcap reads each record with two
  // freads and copies it once more, which cost more than all the decoding of
  // an SCCP message's addresses. Only records that libpcap would return as
  // they are (whole, not longer than the snapshot length) are taken; at the
  // first other one (a truncated record, a damaged length, the end of the
  // file) libpcap reads on from there, so errors and the end read as before.
  class BlockReader {
   public:
    BlockReader(int fd, std::uint64_t offset, bool swapped, std::uint32_t snapshot, bool nano)
        : _fd(fd),
          _offset(offset),
          _swapped(swapped),
          _maxCaplen(std::min(snapshot, kMaxRecord)),
          _fractionNs(nano ? 1 : 1000) {}
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;
    ~BlockReader() {
      if (_lender && _block) _lender->giveBack(_block);
    }

    // Reads into `lender`'s blocks from now on, or into its own (null): what
    // is not yet handed out moves to such a block at once, and a lent block
    // goes back.
    void lend(BlockLender* lender) {
      if (lender == _lender) return;
      BlockLender* before = _lender;
      _lender = lender;
      if (_block) moveRest(before);
    }

    // The next record, or false (libpcap's turn: offset() is where). The
    // record usually lies whole in the block: that case makes no call.
    bool next(Frame& f) {
      if (_end - _at >= kRecordHeader) {
        const std::uint8_t* h = _block + _at;
        const std::uint32_t caplen = field(h + 8);
        if (_end - _at - kRecordHeader >= caplen) return take(f, h, caplen);
      }
      return nextFilling(f);
    }
    // The file offset of the first record not yet handed out.
    std::uint64_t offset() const { return _offset + _at; }

   private:
    static constexpr std::size_t kRecordHeader = 16;
    // libpcap's largest snapshot length for the link types read here.
    static constexpr std::uint32_t kMaxRecord = 262144;
    static constexpr std::size_t kBlock = BlockLender::kBlockSize;
    static_assert(kBlock >= kMaxRecord + kRecordHeader);

    std::uint32_t field(const std::uint8_t* p) const {
      std::uint32_t v;
      std::memcpy(&v, p, 4);
      return _swapped ? __builtin_bswap32(v) : v;
    }

    // The record at _at, `caplen` octets of which are in the block.
    bool take(Frame& f, const std::uint8_t* h, std::uint32_t caplen) {
      const std::uint32_t length = field(h + 12);
      if (caplen > _maxCaplen || caplen > length) return false;
      f.bytes = Bytes(h + kRecordHeader, caplen);
      // As libpcap gives them when opened with nanosecond precision.
      f.timeNs = std::int64_t{field(h)} * 1'000'000'000 + std::int64_t{field(h + 4)} * _fractionNs;
      f.originalLength = length;
      _at += kRecordHeader + caplen;
      return true;
    }

    // next() for a record that runs past the block's end.
    [[gnu::noinline]] bool nextFilling(Frame& f) {
      if (!fill(kRecordHeader)) return false;
      const std::uint32_t caplen = field(_block + _at + 8);
      // A length past every limit is not read for: take() refuses it.
      if (caplen <= kMaxRecord && !fill(kRecordHeader + caplen)) return false;
      return take(f, _block + _at, caplen);
    }

    // At least `n` bytes from _at in the block, reading on: false at the
    // end of the file. _offset follows the block's start in the file.
    bool fill(std::size_t n) {
      if (_end - _at >= n) return true;
      if (_eof) return false;
      moveRest(_lender);
      while (_end < n) {
        ssize_t got =
            ::pread(_fd, _block + _end, kBlock - _end, static_cast<off_t>(_offset + _end));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
          _eof = true;
          return false;
        }
        _end += static_cast<std::size_t>(got);
      }
      return true;
    }

    // What is not yet handed out to the start of a block: the same one when
    // it is the reader's own, a newly lent one otherwise, since what was
    // handed out from a lent block must stay where it is. `from`: the
    // lender of the current block (null: it is the reader's own).
    void moveRest(BlockLender* from) {
      std::uint8_t* to;
      if (_lender) {
        to = _lender->borrow();
      } else {
        if (!_own) _own = std::make_unique_for_overwrite<std::uint8_t[]>(kBlock);
        to = _own.get();
      }
      if (_block) std::memmove(to, _block + _at, _end - _at);
      if (from && _block) from->giveBack(_block);
      _block = to;
      _offset += _at;
      _end -= _at;
      _at = 0;
    }

    int _fd;
    std::uint64_t _offset;
    bool _swapped;
    std::uint32_t _maxCaplen;  // the snapshot length, or kMaxRecord when less
    std::int64_t _fractionNs;
    BlockLender* _lender = nullptr;
    std::uint8_t* _block = nullptr;  // lent, or _own
    std::unique_ptr<std::uint8_t[]> _own;
    std::size_t _at = 0;
    std::size_t _end = 0;
    bool _eof = false;
  };

  std::optional<BlockReader> _blocks;
  BlockLender* _lender = nullptr;
};

class PcapngSource final : public FrameSource {
 public:
  PcapngSource(std::string name, FILE* stream) : _stream(stream), _reader(stream) {
    _name = std::move(name);
  }
  ~PcapngSource() override { std::fclose(_stream); }

  // Reads up to the first frame, which is kept for next(): the interfaces
  // described before it give the link type checked up front.
  bool prime(std::string& error) {
    _primed = _reader.next(_packet);
    if (_primed == PcapngReader::Next::damaged && _reader.interfaces().empty()) {
      error = _reader.error();
      return false;
    }
    const auto& interfaces = _reader.interfaces();
    _linkType = interfaces.empty() ? dlt::ethernet : interfaces.front().linkType;
    for (const auto& i : interfaces)
      if (linkTypeSupported(i.linkType)) {
        _linkType = i.linkType;
        break;
      }
    return true;
  }

  int linkType() const override { return _linkType; }

  Next next(Frame& f) override {
    auto r = _primed ? *_primed : _reader.next(_packet);
    _primed.reset();
    if (r == PcapngReader::Next::end) return Next::end;
    if (r == PcapngReader::Next::damaged) {
      _damage = _reader.error();
      return Next::damaged;
    }
    f.bytes = _packet.bytes;
    f.number = ++_number;
    f.timeNs = _packet.timeNs;
    f.linkType = _packet.linkType;
    // The interface's resolution is not kept with the packet: nanoseconds
    // are shown when there are some.
    f.hasTime = true;
    f.nanoPrecision = _packet.timeNs % 1000 != 0;
    f.unreadable = Skip::none;
    return Next::frame;
  }

 private:
  FILE* _stream;
  PcapngReader _reader;
  PcapngReader::Packet _packet;
  std::optional<PcapngReader::Next> _primed;
  int _linkType = dlt::ethernet;
  std::uint64_t _number = 0;
};

class HexSource final : public FrameSource {
 public:
  // `lineNumber`: lines already consumed (blank ones skipped while opening).
  HexSource(std::string name, FILE* file, std::uint64_t lineNumber)
      : _file(file), _lineNumber(lineNumber) {
    _name = std::move(name);
  }
  ~HexSource() override {
    if (_file != stdin) fclose(_file);
  }

  int linkType() const override { return dlt::sccp; }

  Next next(Frame& f) override {
    for (;;) {
      auto got = readLine();
      if (got == Line::end) return Next::end;
      if (got == Line::failed) return Next::damaged;
      bool isMessage = false;
      if (parseHexLine(_line, _bytes, isMessage)) {
        f.bytes = _bytes;
        f.number = _lineNumber;
        f.unreadable = Skip::none;
        f.originalLength = static_cast<std::uint32_t>(_bytes.size());
        return Next::frame;
      }
      if (isMessage) {
        f.bytes = {};
        f.number = _lineNumber;
        f.unreadable = Skip::badHex;
        return Next::frame;
      }
    }
  }

 private:
  enum class Line { line, end, failed };

  // One line into _line, at most kMaxHexLine characters: a longer one (or a
  // stream of NULs such as /dev/zero) is damage, not a reason to grow
  // without end.
  Line readLine() {
    _line.clear();
    errno = 0;
    for (;;) {
      int c = getc_unlocked(_file);
      if (c == EOF) {
        if (ferror(_file)) {
          _damage = fmt::format("line {}: {}", _lineNumber + 1, std::strerror(errno ? errno : EIO));
          return Line::failed;
        }
        if (_line.empty()) return Line::end;
        break;
      }
      if (c == '\n') break;
      if (_line.size() == kMaxHexLine) {
        _damage = fmt::format("line {} is longer than {} characters", _lineNumber + 1, kMaxHexLine);
        return Line::failed;
      }
      _line += static_cast<char>(c);
    }
    ++_lineNumber;
    return Line::line;
  }

  FILE* _file;
  std::string _line;
  std::vector<std::uint8_t> _bytes;
  std::uint64_t _lineNumber = 0;
};

// Skips the white space at the start of a hex stream and counts its lines;
// false when nothing else follows.
bool skipLeadingSpace(FILE* f, std::uint64_t& lines) {
  lines = 0;
  for (;;) {
    int c = getc_unlocked(f);
    if (c == EOF) return false;
    if (!std::isspace(c)) {
      ungetc(c, f);
      return true;
    }
    if (c == '\n') ++lines;
  }
}

}  // namespace

bool parseHexLine(std::string_view line, std::vector<std::uint8_t>& out, bool& isMessage) {
  out.clear();
  if (auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
  isMessage = false;
  int high = -1;
  for (char c : line) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ':') {
      if (high >= 0) return isMessage = true, false;  // a lone nibble
      continue;
    }
    isMessage = true;
    int v = hexValue(c);
    if (v < 0) return false;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) return false;
  return isMessage;
}

std::unique_ptr<FrameSource> FrameSource::open(const std::string& path, std::string& error,
                                               bool forceHex) {
  bool isStdin = path == "-";
  FILE* f = isStdin ? stdin : std::fopen(path.c_str(), "rb");
  if (!f) {
    error = std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    if (!isStdin) std::fclose(f);
    error = std::strerror(EISDIR);
    return nullptr;
  }
  // A regular file is read in large blocks. Anything else (a pipe) is read
  // unbuffered here, as the reader put in front of it takes what comes.
  bool regular = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
  if (regular)
    std::setvbuf(f, nullptr, _IOFBF, kReadBuffer);
  else
    std::setvbuf(f, nullptr, _IONBF, 0);

  unsigned char head[4];
  std::size_t got = std::fread(head, 1, sizeof head, f);
  if (got < sizeof head && std::ferror(f)) {
    error = std::strerror(errno ? errno : EIO);
    if (!isStdin) std::fclose(f);
    return nullptr;
  }
  bool pcapMagic = isPcapMagic(head, got);
  // Guessing hex from the content would read any text file given by mistake
  // (a configuration, say) as a capture of damaged lines.
  bool hex = !pcapMagic && (forceHex || endsWith(path, ".hex"));
  if (!pcapMagic && !hex) {
    if (!isStdin) std::fclose(f);
    error =
        got == 0 ? "empty file, not a capture (pcap or pcapng)" : "not a capture (pcap or pcapng)";
    return nullptr;
  }

  // Give the reader the stream from its first octet.
  FILE* stream = nullptr;
  if (!isStdin && std::fseek(f, 0, SEEK_SET) == 0) {
    stream = f;
  } else {
    auto* cookie = new Prefixed{f, {}, got, 0, !regular};
    std::memcpy(cookie->head, head, got);
    stream = fopencookie(cookie, "rb",
                         cookie_io_functions_t{prefixedRead, nullptr, nullptr, prefixedClose});
    if (!stream) {
      error = std::strerror(errno);
      prefixedClose(cookie);
      return nullptr;
    }
    std::setvbuf(stream, nullptr, _IOFBF, kReadBuffer);
  }

  // libpcap reads every record with two freads, and each fread takes the
  // stream's lock; one thread reads a capture, so the locking is left out.
  __fsetlocking(stream, FSETLOCKING_BYCALLER);

  std::string name = isStdin ? std::string("<stdin>") : path;
  if (hex) {
    std::uint64_t blankLines = 0;
    if (!skipLeadingSpace(stream, blankLines)) {
      error = std::ferror(stream) ? std::strerror(errno ? errno : EIO)
                                  : "only white space, no message to read";
      std::fclose(stream);
      return nullptr;
    }
    return std::make_unique<HexSource>(std::move(name), stream, blankLines);
  }
  if (got == 4 && head[0] == 0x0A && head[1] == 0x0D && head[2] == 0x0D && head[3] == 0x0A) {
    auto source = std::make_unique<PcapngSource>(std::move(name), stream);
    if (!source->prime(error)) return nullptr;
    return source;
  }

  char errbuf[PCAP_ERRBUF_SIZE] = {};
  // Nanosecond precision keeps the timestamps of either kind of file whole
  // for --write.
  pcap_t* pcap =
      pcap_fopen_offline_with_tstamp_precision(stream, PCAP_TSTAMP_PRECISION_NANO, errbuf);
  if (!pcap) {
    std::fclose(stream);
    error = errbuf;
    return nullptr;
  }
  auto source = std::make_unique<PcapSource>(std::move(name), pcap, isNanosecondPcap(head, got));
  // A regular file in the standard format (not a modified one) is read in
  // blocks, from just after the 24-octet file header.
  if (stream == f && regular && got == 4 && isStandardPcap(head) && pcap_major_version(pcap) == 2 &&
      pcap_minor_version(pcap) == 4)
    source->readBlocks(fileno(stream), 24, pcap_is_swapped(pcap) == 1,
                       static_cast<std::uint32_t>(pcap_snapshot(pcap)));
  return source;
}

}  // namespace qs
