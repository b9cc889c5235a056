#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "Output.h"
#include "Terminal.h"

namespace quorvex::cli {

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) != 0; }
bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

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
