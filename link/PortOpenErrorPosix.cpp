// errno, as open(), flock() and the terminal ioctls leave it, to the kinds of PortOpenError.
#include <cerrno>

#include "PortOpenError.h"
#include "SystemErrorText.h"

namespace quorvex {

PortFailure PortFailureFromErrno(int code) {
  PortOpenError error = PortOpenError::Other;
  switch (code) {
    case EACCES:
    case EPERM:
      error = PortOpenError::PermissionDenied;
      break;
    case EBUSY:        // another program set the terminal's exclusive flag
    case EWOULDBLOCK:  // another program holds the lock
      error = PortOpenError::Busy;
      break;
    case ENOENT:
    case ENODEV:
    case ENXIO:  // a device node with no hardware behind it (ttyS4 on a board with two UARTs)
      error = PortOpenError::NoSuchPort;
      break;
    case ENOTTY:
    case EISDIR:
    case ENOTDIR:
      error = PortOpenError::NotASerialPort;
      break;
    default:
      break;
  }
  return {error, SystemErrorText(code)};
}

}  // namespace quorvex
