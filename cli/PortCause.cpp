#include "PortCause.h"

namespace quorvex::cli {

std::string PortCause(const PortFailure& failure) {
  const std::string system = failure.system.empty() ? "" : " (" + failure.system + ")";
  switch (failure.error) {
    case PortError::None:
      return "";
    case PortError::PermissionDenied:
      // On Linux the serial devices belong to the group dialout; a user outside it may not
      // open them, and a new group membership counts only from the next login.
      return "permission denied" + system +
             ": this user may not use serial ports. Add it to the dialout group with "
             "'sudo usermod -aG dialout $USER', then log out and in again";
    case PortError::Busy:
      return "the port is held by another program" + system +
             ": close that program (a terminal, another quorvex) and try again";
    case PortError::NoSuchPort:
      return "no such port" + system + "; 'quorvex-cli ports' lists the ports that can be opened";
    case PortError::NotASerialPort:
      return "not a serial port" + system;
    case PortError::LineRefused:
      return "the port refused the line settings (62,500 baud, 8N1)" + system;
    case PortError::Other:
      break;
  }
  return "the port cannot be opened" + system;
}

}  // namespace quorvex::cli
