#pragma once

#include <string>
#include <string_view>

namespace quorvex {

// What two names of one port have in common, so that a port named twice is found whatever
// the spelling. Windows: the device name upper-cased, since COM3, com3, //./COM3 and \\.\COM3
// all open the same port there. Elsewhere: the path with its links resolved (ttyUSB0,
// /dev/ttyUSB0 and a link to it), or the path as given when it cannot be resolved; names
// there are case-sensitive, so the bytes are compared.
std::string PortKeyOf(std::string_view path);

}  // namespace quorvex
