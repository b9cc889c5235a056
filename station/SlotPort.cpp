// How a slot finds its port: by name or path, by its adapter's serial number, or by where its
// adapter is plugged in. Asked again while the port is missing, since a re-plugged adapter
// may come back under another ttyUSB or COM number.
#include <string_view>
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

}  // namespace

std::optional<SlotPort> FindSlotPort(const std::string& spec) {
  const bool bySerial = spec.starts_with(kUsbPrefix);
  const bool byLocation = spec.starts_with(kLocationPrefix);
  if (!bySerial && !byLocation) {
    const std::string path = PortPathOf(spec);
    for (const PortIdentity& port : ListPortIdentities()) {
      if (PortKeyOf(port.path) == PortKeyOf(path)) return SlotPort{path, SerialOf(port)};
    }
    return SlotPort{path, std::nullopt};
  }
  const std::string wanted = spec.substr((bySerial ? kUsbPrefix : kLocationPrefix).size());
  std::optional<SlotPort> found;
  for (const PortIdentity& port : ListPortIdentities()) {
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
