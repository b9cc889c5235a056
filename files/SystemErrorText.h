#pragma once

#include <string>

namespace quorvex {

// The system's text for an errno value. Safe to call from several threads at once, unlike
// strerror, whose buffer one thread may overwrite while another reads it.
std::string SystemErrorText(int code);

}  // namespace quorvex
