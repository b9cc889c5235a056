// Other POSIX systems: plain termios, whose speed setters accept the numeric rate on the
// systems we build for (BSD and macOS take any integer).
#include <termios.h>

#include "PosixLine.h"

namespace quorvex::posix {

bool ConfigureLine(int fd, std::uint32_t baud, std::uint32_t* actualBaud) {
  struct termios tio {};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;  // with O_NONBLOCK: EAGAIN when empty, 0 only at a hang-up
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, static_cast<speed_t>(baud)) != 0 ||
      cfsetospeed(&tio, static_cast<speed_t>(baud)) != 0) {
    return false;
  }
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return false;
  struct termios back {};
  if (tcgetattr(fd, &back) != 0) return false;
  if (actualBaud != nullptr) *actualBaud = static_cast<std::uint32_t>(cfgetospeed(&back));
  return true;
}

void RequestLowLatency(int /*fd*/) {}

}  // namespace quorvex::posix
