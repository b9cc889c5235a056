#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "Output.h"
#include "StandardStreams.h"
#include "SystemErrorText.h"
#include "Terminal.h"

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
  *error = cause != 0 ? SystemErrorText(cause) : "write failed";
  return false;
}

TerminalSize StderrSize() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info) == FALSE) return {};
  // The visible window, not the buffer behind it, which may be far wider and longer.
  return {static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1),
          static_cast<std::size_t>(info.srWindow.Bottom - info.srWindow.Top + 1)};
}

// A console before Windows 10 refuses the mode: the caller then draws without escapes.
StderrEscapes::StderrEscapes() {
  const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr ||
      ::GetConsoleMode(handle, &mode) == FALSE) {
    return;
  }
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) {
    on_ = true;
    return;
  }
  if (::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE) {
    on_ = true;
    restore_ = true;
    oldMode_ = mode;
  }
}

StderrEscapes::~StderrEscapes() {
  if (restore_) ::SetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), static_cast<DWORD>(oldMode_));
}

}  // namespace quorvex::cli
