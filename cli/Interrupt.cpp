#include "Interrupt.h"

#include <csignal>

#ifndef _WIN32
#include <signal.h>
#endif

namespace quorvex::cli {
namespace {

volatile std::sig_atomic_t g_stopOnInterrupt = 0;
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int signal) {
  if (g_stopOnInterrupt == 0) {
    // Not inside a run: end the program as an unhandled Ctrl-C would.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  g_interrupted = 1;
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

void SetStopOnInterrupt(bool stop) { g_stopOnInterrupt = stop ? 1 : 0; }

bool InterruptRequested() { return g_interrupted != 0; }

}  // namespace quorvex::cli
