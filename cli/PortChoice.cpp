#include "PortChoice.h"

#include <algorithm>
#include <functional>
#include <optional>

#include "ExitCode.h"
#include "PortIdentity.h"
#include "PortKey.h"
#include "RegistryAccessor.h"
#include "StandardStreams.h"
#include "TComPort.h"

namespace quorvex::cli {
namespace {

constexpr std::string_view kUsbPrefix = "usb:";
constexpr std::string_view kLocationPrefix = "usb-path:";

std::optional<std::string> StoredPort() {
  auto registry = MakeRegistryAccessor();
  registry->SetRootKey(RootKey::LocalMachine);
  if (registry->KeyExists(kSettingsKey) && registry->OpenKey(kSettingsKey, false)) {
    std::string stored = registry->ReadString(kValueComName);
    if (!stored.empty()) return stored;
  }
  return std::nullopt;
}

// The ports whose identity holds `wanted` under `key` (nothing: the port has no such
// identity), and the candidates, each as "NAME KEY", for the message when not exactly one does.
struct Matches {
  std::vector<const PortIdentity*> ports;
  std::string candidates;
  [[nodiscard]] std::string Names() const {
    std::string names;
    for (const PortIdentity* port : ports) names += (names.empty() ? "" : ", ") + port->name;
    return names;
  }
};

Matches Matching(const std::vector<PortIdentity>& ports, const std::string& wanted,
                 const std::function<std::optional<std::string>(const PortIdentity&)>& key,
                 const std::string& missing) {
  Matches found;
  for (const PortIdentity& port : ports) {
    const std::optional<std::string> value = key(port);
    if (!value) continue;
    found.candidates += (found.candidates.empty() ? "" : ", ") + port.name + " " +
                        (value->empty() ? missing : *value);
    if (*value == wanted) found.ports.push_back(&port);
  }
  return found;
}

// The port whose USB adapter has this serial number; exit 2 named when none or several.
int ResolveSerial(const std::string& serial, const std::vector<PortIdentity>& ports,
                  Target* target) {
  const Matches found = Matching(
      ports, serial,
      [](const PortIdentity& port) {
        return port.usb ? std::optional<std::string>(port.usb->serial) : std::nullopt;
      },
      "(no serial number)");
  if (found.ports.size() == 1) {
    *target = {found.ports.front()->name, found.ports.front()->path, serial};
    return kExitDone;
  }
  if (found.ports.empty()) {
    Error("no USB adapter has the serial number " + serial +
          (found.candidates.empty() ? "; no USB adapter is plugged in"
                                    : "; adapters: " + found.candidates));
  } else {
    Error("the serial number " + serial + " matches several ports: " + found.Names() +
          "; name the port instead");
  }
  return kExitBadInput;
}

// The port plugged in at this location; exit 2 naming the ports that have a location when
// none or several are there (the ports of one adapter with several share its plug).
int ResolveLocation(const std::string& location, const std::vector<PortIdentity>& ports,
                    Target* target) {
  const Matches found = Matching(
      ports, location,
      [](const PortIdentity& port) {
        return port.location.empty() ? std::nullopt : std::optional<std::string>(port.location);
      },
      "");
  if (found.ports.size() == 1) {
    *target = {found.ports.front()->name, found.ports.front()->path, std::nullopt};
    return kExitDone;
  }
  if (found.ports.empty()) {
    Error("no port is plugged in at the USB location " + location +
          (found.candidates.empty() ? "; no port is on USB" : "; ports: " + found.candidates));
  } else {
    Error("the USB location " + location + " has several ports: " + found.Names() +
          "; name the port instead");
  }
  return kExitBadInput;
}

}  // namespace

int ChooseTargets(const GlobalOptions& options, std::vector<Target>* targets) {
  targets->clear();
  if (options.simulate) {
    targets->push_back({"simulator", "", std::nullopt});
    return kExitDone;
  }
  std::vector<std::string> names = options.ports;
  if (names.empty()) {
    const auto stored = StoredPort();
    if (!stored) {
      Error("no port chosen: give -p PORT (see 'quorvex-cli ports'), or --simulate");
      return kExitBadInput;
    }
    names.push_back(*stored);
  }
  std::optional<std::vector<PortIdentity>> identities;  // asked for once, when needed
  std::vector<std::string> keys;
  for (const std::string& name : names) {
    Target target;
    if (name.starts_with(kLocationPrefix)) {
      const std::string location = name.substr(kLocationPrefix.size());
      // An empty location would match nothing, and mostly means an unset variable in a script.
      if (location.empty()) {
        Error(
            "-p usb-path: needs the USB port's location: usb-path:LOC, as 'quorvex-cli ports -l' "
            "shows it");
        return kExitBadInput;
      }
      if (!identities) identities = ListPortIdentities();
      if (const int code = ResolveLocation(location, *identities, &target); code != kExitDone) {
        return code;
      }
    } else if (name.starts_with(kUsbPrefix)) {
      const std::string serial = name.substr(kUsbPrefix.size());
      // An empty serial would pick an adapter that has none: never what a slot means.
      if (serial.empty()) {
        Error(
            "-p usb: needs the adapter's serial number: usb:SERIAL, as 'quorvex-cli ports -l' "
            "shows it");
        return kExitBadInput;
      }
      if (!identities) identities = ListPortIdentities();
      if (const int code = ResolveSerial(serial, *identities, &target); code != kExitDone) {
        return code;
      }
    } else {
      target = {PortNameOf(name), PortPathOf(name), std::nullopt};
    }
    const std::string key = PortKeyOf(target.path);
    if (std::find(keys.begin(), keys.end(), key) != keys.end()) {
      Error("the port " + target.name + " is named twice; each instrument needs a port of its own");
      return kExitBadInput;
    }
    keys.push_back(key);
    targets->push_back(std::move(target));
  }
  if (!options.logFile.empty()) {  // the audit record names the adapter of every port
    if (!identities) identities = ListPortIdentities();
    for (Target& target : *targets) {
      for (const PortIdentity& port : *identities) {
        if (!target.usbSerial && port.usb && PortKeyOf(port.path) == PortKeyOf(target.path)) {
          target.usbSerial = port.usb->serial;
        }
      }
    }
  }
  return kExitDone;
}

}  // namespace quorvex::cli
