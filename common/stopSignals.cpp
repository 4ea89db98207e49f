#include "stopSignals.h"

#include <signal.h>

#include <csignal>
#include <cstring>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t g_received = 0;

extern "C" void record(int signal_number) { g_received = signal_number; }

}  // namespace

namespace stopSignals {

void catchAll() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = record;
  // Calls the signal interrupts (a write to a pipe) carry on as if nothing
  // happened; the record alone ends the run.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) sigaction(s, &action, nullptr);
}

int received() { return g_received; }

}  // namespace stopSignals
