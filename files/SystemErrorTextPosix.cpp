#include <cstring>
#include <string>

#include "SystemErrorText.h"

namespace quorvex {
namespace {

// strerror_r comes in two shapes: the GNU one returns the text (perhaps a static string),
// the XSI one fills the buffer and returns 0.
[[maybe_unused]] const char* TextOf(const char* returned, const char* /*buffer*/) {
  return returned;
}
[[maybe_unused]] const char* TextOf(int returned, const char* buffer) {
  return returned == 0 ? buffer : "unknown error";
}

}  // namespace

std::string SystemErrorText(int code) {
  char buffer[256] = {};
  return TextOf(strerror_r(code, buffer, sizeof buffer), buffer);
}

}  // namespace quorvex
