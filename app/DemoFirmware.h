#pragma once

#include <string>

namespace quorvex {

// A firmware file to try the programmer with: a pattern image whose information block names
// the sector "Демо". False when the file cannot be written.
bool WriteDemoFirmware(const std::string& path);

}  // namespace quorvex
