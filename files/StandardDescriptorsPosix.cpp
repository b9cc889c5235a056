#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "StandardDescriptors.h"

namespace quorvex {

void KeepStandardDescriptorsTaken() {
  // In order: open() takes the lowest free number, which is the one found closed, since every
  // number below it is open by then.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    // Should even that fail, the number stays closed: nothing better is left to do.
    if (opened >= 0 && opened != fd) ::close(opened);
  }
}

}  // namespace quorvex
