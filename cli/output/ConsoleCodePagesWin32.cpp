#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "ConsoleCodePages.h"

namespace quorvex::cli {
namespace {

// The pages found at start, 0 while there is nothing to put back (no console, or put back
// already). Atomics: the last restore may run on whichever thread ends the process.
std::atomic<UINT> g_inputPage{0};
std::atomic<UINT> g_outputPage{0};

void PutBack() {
  if (const UINT page = g_outputPage.exchange(0); page != 0) ::SetConsoleOutputCP(page);
  if (const UINT page = g_inputPage.exchange(0); page != 0) ::SetConsoleCP(page);
}

// exit() from anywhere: the runtime calls this before it ends the process.
void PutBackAtExit() { PutBack(); }

// Registered before the program's own control handlers, so called after them, and only when
// none of them took the event: the system's default handling is about to end the process.
BOOL WINAPI OnControlEvent(DWORD /*event*/) {
  PutBack();
  return FALSE;  // the default handling goes on
}

// The last resort, for the ends that pass by both of the above: the runtime's own end of an
// unhandled Ctrl-C (_exit) and ExitProcess. Windows calls a program's TLS callbacks with
// DLL_PROCESS_DETACH on every end through ExitProcess; only TerminateProcess passes it by.
// (Under Wine 8 this does not put the pages back; there the two above are what works.)
void NTAPI OnProcessEvent(PVOID /*module*/, DWORD reason, PVOID /*reserved*/) {
  if (reason == DLL_PROCESS_DETACH) PutBack();
}

}  // namespace

ConsoleCodePages::ConsoleCodePages() {
  // GetConsole*CP answer 0 when the process has no console: then nothing is changed.
  const UINT input = ::GetConsoleCP();
  const UINT output = ::GetConsoleOutputCP();
  if (output == 0) return;
  g_inputPage.store(input);
  g_outputPage.store(output);
  ::SetConsoleOutputCP(CP_UTF8);  // every text written is UTF-8
  std::atexit(PutBackAtExit);
  ::SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

ConsoleCodePages::~ConsoleCodePages() { PutBack(); }

}  // namespace quorvex::cli

// The runtime's start-up code collects the pointers of the .CRT$XL? sections, in name order,
// into the program's TLS callback table; Y comes after its own.
extern "C" {
__attribute__((section(".CRT$XLY"), used)) PIMAGE_TLS_CALLBACK quorvex_code_pages_callback =
    quorvex::cli::OnProcessEvent;
}
