#include "lifecycle.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "safeFile.h"

namespace lifecycle {
namespace {

Phase g_phase = Phase::StartUp;
int g_status = 0;  // status recorded by a failure during teardown
bool g_process_begun = false;

// Runs after every program object built after beginProcess() is destroyed.
void applyFinalStatus() {
  if (g_status != 0) exitNow(g_status);
}

// Runs before the program objects built before beginRun() are destroyed.
void enterTeardown() { g_phase = Phase::TearingDown; }

}  // namespace

Phase phase() { return g_phase; }

void beginProcess() {
  if (g_process_begun) return;
  g_process_begun = true;
  std::atexit(applyFinalStatus);
}

void beginRun() {
  if (g_phase != Phase::StartUp) return;
  g_phase = Phase::Running;
  std::atexit(enterTeardown);
}

void fail() {
  switch (g_phase) {
    case Phase::StartUp:
      exitNow(1);
    case Phase::Running:
      exitRun(1);
    case Phase::TearingDown:
      g_status = 1;
      return;
  }
}

void failAtEnd() {
  if (g_status == 0) g_status = 1;
}

void exitRun(int status) {
  if (status != 0) g_status = status;
  g_phase = Phase::TearingDown;
  std::exit(status);
}

void exitNow(int status) {
  SafeFile::discardAll();
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace lifecycle
