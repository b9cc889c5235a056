#include "PortEnumeration.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#ifndef _WIN32
#include <dirent.h>
#endif

namespace quorvex {

bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (da && db) {
      std::size_t ei = i;
      std::size_t ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])) != 0) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])) != 0) ++ej;
      // Compare by value: strip leading zeros, then the longer run is larger.
      std::string_view na(a.data() + i, ei - i);
      std::string_view nb(b.data() + j, ej - j);
      while (na.size() > 1 && na.front() == '0') na.remove_prefix(1);
      while (nb.size() > 1 && nb.front() == '0') nb.remove_prefix(1);
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

std::vector<std::string> CandidatePortNames() {
  std::vector<std::string> names;
#ifdef _WIN32
  for (int n = 1; n <= 254; ++n) names.push_back("COM" + std::to_string(n));
#else
  static constexpr std::array<std::string_view, 9> kPrefixes{
      "ttyUSB", "ttyACM", "ttyS", "ttyAMA", "ttyXRUSB", "ttyMXUSB", "rfcomm", "ttySC", "ttyO"};
  if (DIR* dir = ::opendir("/dev")) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string_view name(entry->d_name);
      for (const std::string_view prefix : kPrefixes) {
        if (name.size() > prefix.size() && name.starts_with(prefix) &&
            std::isdigit(static_cast<unsigned char>(name[prefix.size()])) != 0) {
          names.emplace_back(name);
          break;
        }
      }
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end(), NaturalLess);
#endif
  return names;
}

}  // namespace quorvex
