#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace quorvex::test {

// The descriptor this process holds on `path` (the port's own, when a TComPort has it open),
// found in /proc/self/fd: a second open would be refused by the port's exclusive flag, root
// aside. Lets a test look at the terminal behind the port without opening it again.
inline std::optional<int> HeldDescriptor(const std::string& path) {
  DIR* folder = ::opendir("/proc/self/fd");
  if (folder == nullptr) return std::nullopt;
  std::optional<int> found;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    char target[256] = {};
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == path) {
      found = std::atoi(entry->d_name);
    }
  }
  ::closedir(folder);
  return found;
}

}  // namespace quorvex::test
