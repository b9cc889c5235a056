#pragma once

#include <string>
#include <vector>

#include "TComPort.h"

namespace quorvex {

// The names of the serial ports that can be opened now, in natural order: COM1..COM254 on
// Windows; elsewhere the serial devices under /dev (ttyUSB0, ttyACM0, ttyS0, ...), without
// "/dev/". Each candidate is probed with `port`, and the port is closed again afterwards, so
// nothing stays held when the list is returned.
std::vector<std::string> ListOpenablePorts(TComPort& port);

// The candidates before probing, in natural order (ttyUSB2 before ttyUSB10).
std::vector<std::string> CandidatePortNames();

// "ttyUSB2" < "ttyUSB10": digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace quorvex
