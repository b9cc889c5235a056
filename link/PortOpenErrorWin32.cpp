// GetLastError() codes of CreateFile and the comm calls, to the kinds of PortOpenError.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "PortOpenError.h"

namespace quorvex {

PortFailure PortFailureFromWin32(unsigned long code) {
  PortOpenError error = PortOpenError::Other;
  switch (code) {
    // A COM port is opened for exclusive use: one that another program holds answers
    // "access denied", not a sharing violation.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      error = PortOpenError::Busy;
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
      error = PortOpenError::NoSuchPort;
      break;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
      error = PortOpenError::NotASerialPort;
      break;
    default:
      break;
  }
  return {error, "Windows error " + std::to_string(code)};
}

}  // namespace quorvex
