#include "Signals.hpp"

#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <initializer_list>

namespace qs::signals {

namespace {

volatile std::sig_atomic_t gReload = 0;
volatile std::sig_atomic_t gReport = 0;
void (*volatile gWake)() = nullptr;

void onSignal(int s) {
  switch (s) {
    case SIGINT:
    case SIGTERM:
      if (!detail::stop) detail::stop = s;
      break;
    case SIGHUP:
      gReload = 1;
      break;
    case SIGUSR1:
      gReport = 1;
      break;
    default:
      break;
  }
  if (auto* wake = gWake) wake();
}

}  // namespace

void install() {
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  // A stop interrupts a read that waits on a pipe, so that the run ends at
  // once; a reload or a report must not: an interrupted read would end the
  // capture as damaged. They are seen at the next frame.
  sa.sa_flags = 0;
  for (int s : {SIGINT, SIGTERM}) sigaction(s, &sa, nullptr);
  sa.sa_flags = SA_RESTART;
  for (int s : {SIGHUP, SIGUSR1}) sigaction(s, &sa, nullptr);
}

BlockedHere::BlockedHere() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&set, s);
  pthread_sigmask(SIG_BLOCK, &set, &_old);
}

BlockedHere::~BlockedHere() {
  pthread_sigmask(SIG_SETMASK, &_old, nullptr);
}

void setWakeUp(void (*wake)()) {
  gWake = wake;
}

bool takeReload() {
  if (!gReload) return false;
  gReload = 0;
  return true;
}

bool takeReport() {
  if (!gReport) return false;
  gReport = 0;
  return true;
}

}  // namespace qs::signals
