// Linux: termios2 with BOTHER sets any rate, 62,500 included.
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include "PosixLine.h"

namespace quorvex::posix {

bool ConfigureLine(int fd, std::uint32_t baud, std::uint32_t* actualBaud) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;

  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= CS8 | CLOCAL | CREAD | BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = baud;
  tio.c_ospeed = baud;
  tio.c_cc[VMIN] = 1;  // with O_NONBLOCK: EAGAIN when empty, 0 only at a hang-up
  tio.c_cc[VTIME] = 0;
  if (ioctl(fd, TCSETS2, &tio) != 0) return false;

  struct termios2 back {};
  if (ioctl(fd, TCGETS2, &back) != 0) return false;
  if (actualBaud != nullptr) *actualBaud = back.c_ospeed;
  return true;
}

void RequestLowLatency(int fd) {
  struct serial_struct serial {};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
  serial.flags |= ASYNC_LOW_LATENCY;
  (void)ioctl(fd, TIOCSSERIAL, &serial);
}

}  // namespace quorvex::posix
