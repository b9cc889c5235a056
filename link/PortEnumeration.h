#pragma once

#include <string>
#include <vector>

namespace quorvex {

// The names that may be serial ports, before anything is opened, in natural order (ttyUSB2
// before ttyUSB10): COM1..COM254 on Windows; elsewhere the serial devices under /dev (ttyUSB0,
// ttyACM0, ttyS0, ...), without "/dev/". PortList.h probes them.
std::vector<std::string> CandidatePortNames();

// "ttyUSB2" < "ttyUSB10": digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace quorvex
