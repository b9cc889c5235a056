// errno, as open(), flock() and the terminal ioctls leave it, to the kinds of PortError.
#include <cerrno>
#include <cstring>

#include "PortError.h"

namespace quorvex {

PortFailure PortFailureFromErrno(int code) {
  PortError error = PortError::Other;
  switch (code) {
    case EACCES:
    case EPERM:
      error = PortError::PermissionDenied;
      break;
    case EBUSY:        // another program set the terminal's exclusive flag
    case EWOULDBLOCK:  // another program holds the lock
      error = PortError::Busy;
      break;
    case ENOENT:
    case ENODEV:
    case ENXIO:  // a device node with no hardware behind it (ttyS4 on a board with two UARTs)
      error = PortError::NoSuchPort;
      break;
    case ENOTTY:
    case EISDIR:
    case ENOTDIR:
      error = PortError::NotASerialPort;
      break;
    default:
      break;
  }
  return {error, std::strerror(code)};
}

}  // namespace quorvex
