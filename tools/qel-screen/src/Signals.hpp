// Signals a run reacts to: SIGINT/SIGTERM end it cleanly (the frame in hand
// is finished, the output and the summary written), SIGHUP asks for the
// configuration to be read again, SIGUSR1 for the running summary.
#pragma once

#include <signal.h>

#include <csignal>

namespace qs::signals {

namespace detail {
// Set by the handler; read for every frame, hence inline.
inline volatile std::sig_atomic_t stop = 0;
}  // namespace detail

// Installs the handlers, without SA_RESTART: a read blocked on a pipe or an
// idle interface returns, so the request is seen at once.
void install();
// Called from the handler after any of them, to wake a blocked reader
// (must be async-signal-safe, like pcap_breakloop); null: none.
void setWakeUp(void (*wake)());
// The signal that asked the run to stop (SIGINT or SIGTERM), or 0.
inline int stopRequested() {
  return detail::stop;
}
// True once per SIGHUP / SIGUSR1 received since the last call.
bool takeReload();
bool takeReport();

// While one exists, the calling thread blocks SIGINT, SIGTERM, SIGHUP and
// SIGUSR1, and threads it starts inherit that: made around starting helper
// threads, so that the signals reach the thread that reads the input and
// interrupt a read waiting on a pipe or an interface.
class BlockedHere {
 public:
  BlockedHere();
  ~BlockedHere();
  BlockedHere(const BlockedHere&) = delete;
  BlockedHere& operator=(const BlockedHere&) = delete;

 private:
  sigset_t _old;
};

}  // namespace qs::signals
