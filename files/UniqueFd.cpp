#include "UniqueFd.h"

#include <unistd.h>

namespace quorvex {

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool UniqueFd::Close() {
  const int fd = std::exchange(fd_, -1);
  return fd < 0 || ::close(fd) == 0;
}

}  // namespace quorvex
