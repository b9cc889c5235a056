#include "Interrupt.h"

#include <atomic>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <signal.h>
#endif

namespace quorvex::cli {
namespace {

// Written by the handler, read by every port's thread: lock-free atomics are safe in both.
std::atomic<bool> g_stopOnInterrupt{false};
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

#ifdef _WIN32

// Runs on a thread of its own that the system starts for each event.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (!g_stopOnInterrupt.load()) return FALSE;  // not inside a run: the usual end
  g_interrupted.store(true);
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // The console closed, log-off or shut-down: the process ends as soon as this returns, so it
  // returns only once the runs have stopped and written their records (or when the system's
  // patience runs out and it ends the process anyway).
  while (g_stopOnInterrupt.load()) ::Sleep(20);
  return TRUE;
}

#else

extern "C" void OnInterrupt(int signal) {
  if (!g_stopOnInterrupt.load()) {
    // Not inside a run: end the program as the unhandled signal would.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
    return;
  }
  g_interrupted.store(true);
}

#endif

}  // namespace

void InstallInterruptHandler() {
#ifdef _WIN32
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
  // No SA_RESTART: a prompt waiting for an answer returns, and the answer is No.
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
#endif
}

void SetStopOnInterrupt(bool stop) { g_stopOnInterrupt.store(stop); }

bool InterruptRequested() { return g_interrupted.load(); }

}  // namespace quorvex::cli
