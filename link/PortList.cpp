#include "PortList.h"

#include <algorithm>
#include <string>
#include <utility>

#include "PortEnumeration.h"

namespace quorvex {
namespace {

const PortIdentity* Named(const std::vector<PortIdentity>& ports, const std::string& name) {
  const auto found = std::find_if(ports.begin(), ports.end(),
                                  [&name](const PortIdentity& p) { return p.name == name; });
  return found == ports.end() ? nullptr : &*found;
}

}  // namespace

std::vector<PortIdentity> ListPorts(TComPort& port, PortSet set,
                                    std::vector<std::string>* forbidden) {
  const std::vector<PortIdentity> known = ListPortIdentities();
  std::vector<PortIdentity> ports;
  for (const std::string& name : CandidatePortNames()) {
    if (!port.Probe(PortPathOf(name))) {
      if (forbidden != nullptr && port.OpenFailure().error == PortOpenError::PermissionDenied) {
        forbidden->push_back(name);
      }
      continue;
    }
    const PortIdentity* identity = Named(known, name);
    ports.push_back(identity != nullptr
                        ? *identity
                        : PortIdentity{name, PortPathOf(name), "serial port", {}, {}});
  }
  port.Close();  // the last port probed is not left held
  if (set == PortSet::Known) {
    for (const PortIdentity& k : known) {
      if (Named(ports, k.name) == nullptr) ports.push_back(k);
    }
  }
  std::sort(ports.begin(), ports.end(), [](const PortIdentity& a, const PortIdentity& b) {
    return NaturalLess(a.name, b.name);
  });
  return ports;
}

std::vector<std::string> ListOpenablePorts(TComPort& port) {
  std::vector<std::string> names;
  for (PortIdentity& p : ListPorts(port, PortSet::Openable)) names.push_back(std::move(p.name));
  return names;
}

}  // namespace quorvex
