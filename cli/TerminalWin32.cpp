#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "Output.h"

namespace quorvex::cli {
namespace {

// _isatty holds for every character device, NUL included; only a console has a console mode.
bool IsConsole(DWORD stream) {
  DWORD mode = 0;
  const HANDLE handle = ::GetStdHandle(stream);
  return handle != INVALID_HANDLE_VALUE && handle != nullptr &&
         ::GetConsoleMode(handle, &mode) != FALSE;
}

}  // namespace

bool StdinIsTerminal() { return IsConsole(STD_INPUT_HANDLE); }
bool StderrIsTerminal() { return IsConsole(STD_ERROR_HANDLE); }

}  // namespace quorvex::cli
