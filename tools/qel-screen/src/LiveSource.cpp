#include "LiveSource.hpp"

#include <fmt/format.h>
#include <pcap/pcap.h>

#include "PcapFrame.hpp"
#include "Signals.hpp"

namespace qs {

namespace {

// How long libpcap holds frames before handing them over, and how long a
// read waits for traffic before it reports the input idle: records appear
// well within a second, without a wake-up per frame.
constexpr int kIdleMilliseconds = 200;

// The capture a signal interrupts (one live source per run).
pcap_t* volatile gLive = nullptr;
void wake() {
  if (pcap_t* p = gLive) pcap_breakloop(p);
}

class LiveSource final : public FrameSource {
 public:
  LiveSource(std::string name, pcap_t* pcap, bool nano) : _pcap(pcap), _nano(nano) {
    _name = std::move(name);
    _linkType = pcap_datalink(pcap);
    gLive = pcap;
    signals::setWakeUp(wake);
  }
  ~LiveSource() override {
    signals::setWakeUp(nullptr);
    gLive = nullptr;
    pcap_close(_pcap);
  }

  int linkType() const override { return _linkType; }
  bool nanosecond() const override { return _nano; }
  bool live() const override { return true; }

  Next next(Frame& f) override {
    pcap_pkthdr* header;
    const u_char* data;
    int r = pcap_next_ex(_pcap, &header, &data);
    if (r == 1) {
      takePcapFrame(f, *header, data, ++_number, _nano, _nano);
      return Next::frame;
    }
    // Woken by a signal: the caller looks at what it asked for.
    if (r == 0 || r == PCAP_ERROR_BREAK) return Next::idle;
    _damage = pcap_geterr(_pcap);
    return Next::damaged;
  }

 private:
  pcap_t* _pcap;
  int _linkType;
  bool _nano;
  std::uint64_t _number = 0;
};

}  // namespace

std::unique_ptr<FrameSource> openLive(const std::string& interface, const std::string& bpf,
                                      bool promiscuous, std::string& error) {
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_t* p = pcap_create(interface.c_str(), errbuf);
  if (!p) {
    error = errbuf;
    return nullptr;
  }
  pcap_set_snaplen(p, 262144);
  pcap_set_promisc(p, promiscuous ? 1 : 0);
  pcap_set_timeout(p, kIdleMilliseconds);
  pcap_set_tstamp_precision(p, PCAP_TSTAMP_PRECISION_NANO);
  int r = pcap_activate(p);
  if (r < 0) {
    error = r == PCAP_ERROR ? pcap_geterr(p) : pcap_statustostr(r);
    if (r != PCAP_ERROR && *pcap_geterr(p)) error = fmt::format("{} ({})", error, pcap_geterr(p));
    pcap_close(p);
    return nullptr;
  }
  const std::string& expression = bpf.empty() ? std::string(kDefaultLiveFilter) : bpf;
  bpf_program program{};
  if (pcap_compile(p, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0 ||
      pcap_setfilter(p, &program) != 0) {
    error = fmt::format("--bpf \"{}\": {}", expression, pcap_geterr(p));
    pcap_freecode(&program);
    pcap_close(p);
    return nullptr;
  }
  pcap_freecode(&program);
  bool nano = pcap_get_tstamp_precision(p) == PCAP_TSTAMP_PRECISION_NANO;
  return std::make_unique<LiveSource>(interface, p, nano);
}

}  // namespace qs
