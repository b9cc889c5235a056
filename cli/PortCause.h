#pragma once

#include <string>
#include <vector>

#include "PortOpenError.h"

namespace quorvex::cli {

// The line quorvex-cli adds, after the window's "Ошибка открытия порта" message, to say why
// the port did not open and what to do about it.
std::string PortCause(const PortFailure& failure);

// The note of `ports` when some ports exist that this user may not open: which, and the fix.
std::string ForbiddenPortsNote(const std::vector<std::string>& names);

}  // namespace quorvex::cli
