// Port identity on Linux: the tty devices libudev knows, each with the properties of the USB
// device above it (vendor and product ids, serial number, maker and product names) and where
// that device is plugged in.
#include <libudev.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>

#include "PortEnumeration.h"
#include "PortIdentity.h"
#include "TComPort.h"

namespace quorvex {
namespace {

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string Property(udev_device* device, const char* name) {
  const char* value = udev_device_get_property_value(device, name);
  return value != nullptr ? value : "";
}

std::string Attribute(udev_device* device, const char* name) {
  const char* value = udev_device_get_sysattr_value(device, name);
  return value != nullptr ? value : "";
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The USB device's descriptors, from the properties udev gave the tty or, where its rules
// did not run, from the sysfs attributes of the usb_device above it.
std::optional<UsbIdentity> UsbOf(udev_device* tty) {
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
  if (usb == nullptr) return std::nullopt;
  UsbIdentity id;
  id.vid = Lower(Property(tty, "ID_VENDOR_ID"));
  if (id.vid.empty()) id.vid = Lower(Attribute(usb, "idVendor"));
  id.pid = Lower(Property(tty, "ID_MODEL_ID"));
  if (id.pid.empty()) id.pid = Lower(Attribute(usb, "idProduct"));
  id.serial = Property(tty, "ID_SERIAL_SHORT");
  if (id.serial.empty()) id.serial = Attribute(usb, "serial");
  id.manufacturer = Attribute(usb, "manufacturer");
  if (id.manufacturer.empty()) id.manufacturer = Property(tty, "ID_VENDOR_FROM_DATABASE");
  id.product = Attribute(usb, "product");
  if (id.product.empty()) id.product = Property(tty, "ID_MODEL_FROM_DATABASE");
  return id;
}

// The USB port path of the adapter: the name the kernel gives the USB device, its bus and
// then the port on each hub down to it (1-1.3). The nearest usb_device above the tty is the
// adapter; those above it are the hubs it hangs under. Both ports of a two-port adapter share
// it, as they share the plug.
std::string LocationOf(udev_device* tty) {
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
  if (usb == nullptr) return {};
  const char* sysname = udev_device_get_sysname(usb);
  return sysname != nullptr ? sysname : "";
}

}  // namespace

std::vector<PortIdentity> ListPortIdentities() {
  // libudev's contexts share hidden state inside the library (its hash tables' random seed),
  // so two threads enumerating at once race: a station's slots look for their ports from
  // threads of their own. One enumeration at a time.
  static std::mutex enumerating;
  const std::lock_guard lock(enumerating);
  std::vector<PortIdentity> ports;
  const UdevPtr<udev> context(udev_new());
  if (!context) return ports;
  const UdevPtr<udev_enumerate> enumerate(udev_enumerate_new(context.get()));
  udev_enumerate_add_match_subsystem(enumerate.get(), "tty");
  udev_enumerate_scan_devices(enumerate.get());
  for (udev_list_entry* entry = udev_enumerate_get_list_entry(enumerate.get()); entry != nullptr;
       entry = udev_list_entry_get_next(entry)) {
    const UdevPtr<udev_device> tty(
        udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    if (!tty) continue;
    const char* node = udev_device_get_devnode(tty.get());
    udev_device* parent = udev_device_get_parent(tty.get());
    // Virtual terminals and pseudo-terminals have no device of their own behind them; the
    // placeholders of the legacy UART driver hang off the platform bus.
    if (node == nullptr || parent == nullptr) continue;
    const char* parentSubsystem = udev_device_get_subsystem(parent);
    if (parentSubsystem != nullptr && std::string(parentSubsystem) == "platform") continue;
    PortIdentity port;
    port.path = node;
    port.name = PortNameOf(port.path);
    port.usb = UsbOf(tty.get());
    port.location = LocationOf(tty.get());
    port.description = port.usb && !port.usb->product.empty() ? port.usb->product
                       : port.usb                             ? "USB serial adapter"
                                                              : "serial port";
    ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end(), [](const PortIdentity& a, const PortIdentity& b) {
    return NaturalLess(a.name, b.name);
  });
  return ports;
}

}  // namespace quorvex
