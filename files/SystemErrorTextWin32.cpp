#include <cstring>
#include <string>

#include "SystemErrorText.h"

namespace quorvex {

// The C runtime's texts for errno values; strerror_s fills the caller's buffer, so no thread
// overwrites another's text.
std::string SystemErrorText(int code) {
  char buffer[256] = {};
  if (strerror_s(buffer, sizeof buffer, code) != 0) return "unknown error";
  return buffer;
}

}  // namespace quorvex
