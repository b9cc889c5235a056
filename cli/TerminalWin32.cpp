#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "Output.h"
#include "StandardStreams.h"

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

// Through the runtime's streams, which turn line feeds into CR LF as every other program's
// text output on Windows does. There is no SIGPIPE: a write to a closed pipe only fails.
bool WriteAllToStandard(StandardStream stream, std::string_view text, std::string* error,
                        bool* readerGone) {
  std::FILE* file = stream == StandardStream::Out ? stdout : stderr;
  errno = 0;
  const std::size_t written = std::fwrite(text.data(), 1, text.size(), file);
  if (written == text.size() && std::fflush(file) == 0) return true;
  const int cause = errno;
  std::clearerr(file);
  *readerGone = cause == EPIPE;
  *error = cause != 0 ? std::generic_category().message(cause) : "write failed";
  return false;
}

}  // namespace quorvex::cli
