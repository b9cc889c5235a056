// This machine's name and the user's login name on POSIX, for the audit record.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "AuditLog.h"

namespace quorvex {

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string UserName() {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[1024];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  const char* user = std::getenv("USER");
  return user != nullptr ? user : std::to_string(::geteuid());
}

}  // namespace quorvex
