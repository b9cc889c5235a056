// How a slot finds its port: by name or path, by its adapter's serial number, or by where its
// adapter is plugged in. Asked again while the port is missing, since a re-plugged adapter
// may come back under another ttyUSB or COM number.
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <system_error>
#include <vector>

#include "PortIdentity.h"
#include "PortKey.h"
#include "Station.h"
#include "TComPort.h"

namespace quorvex::station {
namespace {

constexpr std::string_view kUsbPrefix = "usb:";
constexpr std::string_view kLocationPrefix = "usb-path:";

std::optional<std::string> SerialOf(const PortIdentity& port) {
  if (port.usb) return port.usb->serial;
  return std::nullopt;
}

// The ports present, listed at most once in this long for every slot that looks: listing
// reads a few thousand files, and eight slots waiting for their adapters would otherwise
// list them all sixteen times a second.
constexpr std::chrono::milliseconds kListingKept{400};

std::vector<PortIdentity> PortsPresent(bool fresh = false) {
  using Clock = std::chrono::steady_clock;
  static std::mutex mutex;
  static std::vector<PortIdentity> ports;
  static std::optional<Clock::time_point> listed;
  const std::lock_guard lock(mutex);
  const auto now = Clock::now();
  if (fresh || !listed || now - *listed >= kListingKept) {
    ports = ListPortIdentities();
    listed = now;
  }
  return ports;
}

// False only when the path surely names nothing: a device path that is not there. Windows
// names (COM3) are not files, and are tried by opening.
bool MayBeThere(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return true;
#else
  std::error_code error;
  return std::filesystem::exists(path, error) || error;
#endif
}

}  // namespace

std::optional<SlotPort> FindSlotPort(const std::string& spec) {
  const bool bySerial = spec.starts_with(kUsbPrefix);
  const bool byLocation = spec.starts_with(kLocationPrefix);
  if (!bySerial && !byLocation) {
    const std::string path = PortPathOf(spec);
    if (!MayBeThere(path)) return std::nullopt;  // unplugged: nothing to list
    // A port plugged in a moment ago is not in a listing kept from before: look again, so
    // that its adapter's serial number is in every record of the units on it.
    for (const bool fresh : {false, true}) {
      for (const PortIdentity& port : PortsPresent(fresh)) {
        if (PortKeyOf(port.path) == PortKeyOf(path)) return SlotPort{path, SerialOf(port)};
      }
    }
    return SlotPort{path, std::nullopt};
  }
  const std::string wanted = spec.substr((bySerial ? kUsbPrefix : kLocationPrefix).size());
  std::optional<SlotPort> found;
  for (const PortIdentity& port : PortsPresent()) {
    const bool match = bySerial ? (port.usb && port.usb->serial == wanted)
                                : (!port.location.empty() && port.location == wanted);
    if (!match) continue;
    if (found) return std::nullopt;  // two adapters answer to it: neither is the slot's
    found = SlotPort{port.path, SerialOf(port)};
  }
  return found;
}

std::string SlotKey(const std::string& spec) {
  if (spec.starts_with(kUsbPrefix) || spec.starts_with(kLocationPrefix)) return spec;
  return PortKeyOf(PortPathOf(spec));
}

std::string SlotSpecProblem(const std::vector<SlotSpec>& slots) {
  if (slots.empty())
    return "the station has no slots: name them in the job's [station] slots, or with -p";
  std::vector<std::string> keys;
  for (const SlotSpec& slot : slots) {
    if (slot.spec == kUsbPrefix || slot.spec == kLocationPrefix || slot.spec.empty()) {
      return "the slot '" + slot.spec + "' names no port";
    }
    const std::string key = SlotKey(slot.spec);
    for (const std::string& seen : keys) {
      if (seen == key)
        return "the slot " + slot.name + " is named twice; each slot needs a port of its own";
    }
    keys.push_back(key);
  }
  return "";
}

}  // namespace quorvex::station
