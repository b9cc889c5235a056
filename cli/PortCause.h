#pragma once

#include <string>

#include "PortOpenError.h"

namespace quorvex::cli {

// The line quorvex-cli adds, after the window's "Ошибка открытия порта" message, to say why
// the port did not open and what to do about it.
std::string PortCause(const PortFailure& failure);

}  // namespace quorvex::cli
