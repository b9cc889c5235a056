#include "PortCause.h"

namespace quorvex::cli {

namespace {

// On Linux the serial devices belong to the group dialout; a user outside it may not open
// them, and a new group membership counts only from the next login.
constexpr const char* kDialoutFix =
    "Add it to the dialout group with 'sudo usermod -aG dialout $USER', then log out and in "
    "again";

}  // namespace

std::string PortCause(const PortFailure& failure) {
  // The system's own words only where the kind alone says too little.
  const std::string system = failure.system.empty() ? "" : ": " + failure.system;
  switch (failure.error) {
    case PortOpenError::None:
      return "";
    case PortOpenError::PermissionDenied:
      return std::string("permission denied: this user may not use serial ports. ") + kDialoutFix;
    case PortOpenError::Busy:
      return "the port is held by another program: close that program (a terminal, another "
             "quorvex) and try again";
    case PortOpenError::NoSuchPort:
      return "no such port; 'quorvex-cli ports' lists the ports that can be opened";
    case PortOpenError::NotASerialPort:
      return "not a serial port";
    case PortOpenError::LineRefused:
      return "the port refused the line settings (62,500 baud, 8N1)" + system;
    case PortOpenError::Other:
      break;
  }
  return "the port cannot be opened" + system;
}

std::string ForbiddenPortsNote(const std::vector<std::string>& names) {
  constexpr std::size_t kNamed = 4;  // a PC may have 32 built-in ports: name a few
  std::string list;
  for (std::size_t i = 0; i < names.size() && i < kNamed; ++i) {
    list += (i == 0 ? "" : ", ") + names[i];
  }
  if (names.size() > kNamed) list += " and " + std::to_string(names.size() - kNamed) + " more";
  return (names.size() == 1 ? "the port " + list + " exists, but this user may not open it. "
                            : "the ports " + list + " exist, but this user may not open them. ") +
         kDialoutFix;
}

}  // namespace quorvex::cli
