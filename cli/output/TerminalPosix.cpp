#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "Output.h"
#include "StandardStreams.h"
#include "SystemErrorText.h"
#include "Terminal.h"

namespace quorvex::cli {

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) != 0; }
bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

// Straight to the descriptor: nothing is left in a stdio buffer that the exit would try to
// write again.
bool WriteAllToStandard(StandardStream stream, std::string_view text, std::string* error,
                        bool* readerGone) {
  const int fd = stream == StandardStream::Out ? STDOUT_FILENO : STDERR_FILENO;
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *readerGone = n < 0 && errno == EPIPE;
      *error = n < 0 ? SystemErrorText(errno) : "nothing written";
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

TerminalSize StderrSize() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return {};
  return {size.ws_col, size.ws_row};
}

StderrEscapes::StderrEscapes() {
  const char* term = std::getenv("TERM");
  on_ = term == nullptr || std::string_view(term) != "dumb";
}

StderrEscapes::~StderrEscapes() = default;

}  // namespace quorvex::cli
