#pragma once

#include <string>
#include <vector>

#include "PortIdentity.h"
#include "TComPort.h"

namespace quorvex {

// Which ports a list holds.
enum class PortSet {
  Openable,  // the ports that open now
  Known,     // and those the system knows that another program holds
};

// The one list of serial ports that the window, `ports`, `ports -l` and `--json ports` show:
// each port with its path, description and USB adapter where the system names one, in
// natural order. Each candidate is probed with `port`, which is closed again afterwards, so
// nothing stays held when the list is returned.
// `forbidden`, when given, receives the names of the candidates this user may not open (a
// user outside the group that owns the serial devices sees none of them otherwise).
std::vector<PortIdentity> ListPorts(TComPort& port, PortSet set,
                                    std::vector<std::string>* forbidden = nullptr);

// The names of ListPorts(port, PortSet::Openable), for the window's port list.
std::vector<std::string> ListOpenablePorts(TComPort& port);

}  // namespace quorvex
