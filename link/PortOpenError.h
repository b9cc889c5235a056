#pragma once

#include <string>

namespace quorvex {

// Why a port could not be opened, in the few kinds a user can act on. Each platform maps
// its own error codes onto these in one function (PortOpenErrorPosix.cpp, PortOpenErrorWin32.cpp).
enum class PortOpenError {
  None,
  PermissionDenied,  // the user may not open the device
  Busy,              // another program holds it
  NoSuchPort,        // nothing at that path or name
  NotASerialPort,    // it exists, but is a file, a folder or some other device
  LineRefused,       // it opened, but refused the line settings or time-outs
  Other,
};

// A failure to open a port: its kind and the system's own description of it ("" when the
// system gave none). A default-constructed one is no failure.
struct PortFailure {
  PortOpenError error = PortOpenError::None;
  std::string system;

  [[nodiscard]] bool Failed() const { return error != PortOpenError::None; }
};

#ifdef _WIN32
// What GetLastError() said after CreateFile or a comm call failed.
PortFailure PortFailureFromWin32(unsigned long code);
#else
// What errno said after open(), flock() or ioctl() failed.
PortFailure PortFailureFromErrno(int code);
#endif

}  // namespace quorvex
