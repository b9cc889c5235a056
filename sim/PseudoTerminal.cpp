#include "PseudoTerminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "SystemErrorText.h"

namespace quorvex::sim {
namespace {

std::string Failure(const char* what) { return std::string(what) + ": " + SystemErrorText(errno); }

bool SetFdFlag(int fd, int getCommand, int setCommand, int flag) {
  const int flags = ::fcntl(fd, getCommand);
  return flags >= 0 && ::fcntl(fd, setCommand, flags | flag) == 0;
}

}  // namespace

std::optional<PseudoTerminal> PseudoTerminal::Open(std::string* error) {
  PseudoTerminal terminal;
#ifdef O_CLOEXEC
  terminal.master_ = UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!terminal.master_.Valid() && errno == EINVAL) {
    terminal.master_ = UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY));
  }
#else
  terminal.master_ = UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY));
#endif
  const int master = terminal.master_.Get();
  if (master < 0) {
    *error = Failure("posix_openpt");
    return std::nullopt;
  }
  if (!SetFdFlag(master, F_GETFD, F_SETFD, FD_CLOEXEC) ||
      !SetFdFlag(master, F_GETFL, F_SETFL, O_NONBLOCK)) {
    *error = Failure("fcntl on the pseudo-terminal master");
    return std::nullopt;
  }
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    *error = Failure("grantpt/unlockpt");
    return std::nullopt;
  }
  std::array<char, 256> name{};
#ifdef __linux__
  if (::ptsname_r(master, name.data(), name.size()) != 0) {
    *error = Failure("ptsname_r");
    return std::nullopt;
  }
#else
  const char* shared = ::ptsname(master);  // the serving thread does not call it
  if (shared == nullptr) {
    *error = Failure("ptsname");
    return std::nullopt;
  }
  std::strncpy(name.data(), shared, name.size() - 1);
#endif
  terminal.slavePath_ = name.data();

  terminal.slave_ = UniqueFd(::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!terminal.slave_.Valid()) {
    *error = Failure(("open " + terminal.slavePath_).c_str());
    return std::nullopt;
  }
  termios settings{};
  if (::tcgetattr(terminal.slave_.Get(), &settings) != 0) {
    *error = Failure("tcgetattr");
    return std::nullopt;
  }
  ::cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (::tcsetattr(terminal.slave_.Get(), TCSANOW, &settings) != 0) {
    *error = Failure("tcsetattr");
    return std::nullopt;
  }
  return terminal;
}

void PseudoTerminal::Close() {
  slave_.Reset();
  master_.Reset();
}

}  // namespace quorvex::sim
