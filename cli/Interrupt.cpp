#include "Interrupt.h"

#include <atomic>
#include <csignal>

#ifndef _WIN32
#include <signal.h>
#endif

namespace quorvex::cli {
namespace {

// Written by the handler, read by every port's thread: lock-free atomics are safe in both.
std::atomic<bool> g_stopOnInterrupt{false};
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int signal) {
  if (!g_stopOnInterrupt.load()) {
    // Not inside a run: end the program as an unhandled Ctrl-C would.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  g_interrupted.store(true);
#ifdef _WIN32
  std::signal(signal, OnInterrupt);  // the Windows runtime resets the handler each time
#endif
}

}  // namespace

void InstallInterruptHandler() {
#ifdef _WIN32
  std::signal(SIGINT, OnInterrupt);
#else
  // No SA_RESTART: a prompt waiting for an answer returns, and the answer is No.
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
#endif
}

void SetStopOnInterrupt(bool stop) { g_stopOnInterrupt.store(stop); }

bool InterruptRequested() { return g_interrupted.load(); }

}  // namespace quorvex::cli
