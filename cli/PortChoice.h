#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Commands.h"

namespace quorvex::cli {

// One port a device command runs on.
struct Target {
  std::string name;  // what the output calls it: ttyUSB0, COM3, a path, "simulator"
  std::string path;  // what opens it; empty for the simulated instrument
  std::optional<std::string> usbSerial;
};

// The ports of the command line (or the stored one, or the simulated instrument), each
// resolved to a path: usb:SERIAL and usb-path:LOC through the ports' identities. Refuses a
// port named twice (in any two forms) and a serial number or location that matches no port
// or several. Returns 0, or the exit code with the
// reason shown on stderr; nothing is opened either way.
int ChooseTargets(const GlobalOptions& options, std::vector<Target>* targets);

}  // namespace quorvex::cli
