#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvex {

// The USB adapter behind a serial port, as its descriptors name it.
struct UsbIdentity {
  std::string vid;  // 4 lower-case hexadecimal digits
  std::string pid;
  std::string serial;
  std::string manufacturer;
  std::string product;
};

// A serial port the system knows, whether or not it can be opened right now.
struct PortIdentity {
  std::string name;  // as `ports` shows it: ttyUSB0, COM3
  std::string path;  // what opens it: /dev/ttyUSB0, //./COM3
  std::string description;
  std::optional<UsbIdentity> usb;  // none for a port that is not on USB
  // Where its USB adapter is plugged in, which stays when the ttyUSB or COM number moves:
  // udev's USB port path on Linux (1-1.3: the bus, then the port on each hub), the location
  // path on Windows (PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)). Empty when not on USB.
  std::string location;
};

// The serial ports of this machine with the identity of their USB adapters: libudev on Linux,
// SetupAPI on Windows (the platform file is chosen by the build). In natural order.
std::vector<PortIdentity> ListPortIdentities();

}  // namespace quorvex
