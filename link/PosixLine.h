#pragma once

#include <cstdint>

namespace quorvex::posix {

// Makes the line raw (no canonical input, echo, signals, XON/XOFF, CR/LF mapping or output
// processing; CLOCAL|CREAD) at the given rate, 8 data bits, no parity, one stop bit, leaving
// every other setting as the driver reported it. Reads the settings back: *actualBaud is the
// rate the driver runs (some adapters round odd rates). One file per platform, because the
// Linux call that takes any rate needs <asm/termbits.h>, which clashes with <termios.h>.
bool ConfigureLine(int fd, std::uint32_t baud, std::uint32_t* actualBaud);

// Asks the driver to hand over each received byte at once; a refusal changes nothing.
void RequestLowLatency(int fd);

}  // namespace quorvex::posix
