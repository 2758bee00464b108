// Signals a run reacts to: SIGINT/SIGTERM end it cleanly (the frame in hand
// is finished, the output and the summary written), SIGHUP asks for the
// configuration to be read again, SIGUSR1 for the running summary.
#pragma once

namespace qs::signals {

// Installs the handlers, without SA_RESTART: a read blocked on a pipe or an
// idle interface returns, so the request is seen at once.
void install();
// Called from the handler after any of them, to wake a blocked reader
// (must be async-signal-safe, like pcap_breakloop); null: none.
void setWakeUp(void (*wake)());
// The signal that asked the run to stop (SIGINT or SIGTERM), or 0.
int stopRequested();
// True once per SIGHUP / SIGUSR1 received since the last call.
bool takeReload();
bool takeReport();

}  // namespace qs::signals
