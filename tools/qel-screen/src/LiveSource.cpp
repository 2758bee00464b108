#include "LiveSource.hpp"

#include <fmt/format.h>
#include <pcap/pcap.h>

#include "PcapHandleSource.hpp"
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

class LiveSource final : public PcapHandleSource {
 public:
  LiveSource(std::string name, pcap_t* pcap, bool nano)
      : PcapHandleSource(std::move(name), pcap, nano, nano) {
    gLive = pcap;
    signals::setWakeUp(wake);
  }
  ~LiveSource() override {
    signals::setWakeUp(nullptr);
    gLive = nullptr;
  }

  bool live() const override { return true; }

  Next next(Frame& f) override {
    const int r = read(f);
    if (r == 1) return Next::frame;
    // Woken by a signal: the caller looks at what it asked for.
    if (r == 0 || r == PCAP_ERROR_BREAK) return Next::idle;
    _damage = pcap_geterr(_pcap);
    return Next::damaged;
  }
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
