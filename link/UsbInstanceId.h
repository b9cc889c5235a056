#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

// What the Windows device instance id of a USB device or interface tells:
// "USB\VID_0403&PID_6001\A10K3Z9Q", "USB\VID_2341&PID_8036&MI_00\6&2A3B4C5D&0&0000".
struct UsbInstanceId {
  std::string vid;  // 4 lower-case hexadecimal digits; empty when the id has none
  std::string pid;
  // The last part of the id: the device's serial number. Empty when Windows made it up (it then
  // holds '&': a device without a serial number, or one function of a composite device).
  std::string serial;
  // "&MI_nn": one interface of a composite device, whose own last part is always made up; the
  // serial number belongs to the USB device above it.
  bool isInterface = false;
};

// Nothing for an id that is not on the USB bus ("ACPI\PNP0501\0").
std::optional<UsbInstanceId> ParseUsbInstanceId(std::string_view id);

// Given the instance ids of a port's device node and of the nodes above it, nearest first:
// the place of the USB device that carries the adapter's serial number, or nothing for a port
// that is not on USB. That is the port itself (a CDC modem) or the node above it (a vendor
// driver's port); when that one is an interface of a composite device, the USB device above it.
std::optional<std::size_t> UsbDeviceInChain(const std::vector<std::string>& ids);

}  // namespace quorvex
