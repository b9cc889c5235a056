#pragma once

#include <string>
#include <vector>

namespace quorvex::cli {

// The program's arguments in UTF-8, the program's name first. On Windows they come from the
// wide command line (the ANSI argv loses every letter outside the system's code page, a
// Cyrillic folder's among them); elsewhere they are argv as given.
class CommandLine {
 public:
  CommandLine(int argc, char** argv);
  [[nodiscard]] int Count() const { return static_cast<int>(pointers_.size()); }
  [[nodiscard]] const char* const* Arguments() const { return pointers_.data(); }

 private:
  std::vector<std::string> arguments_;
  std::vector<const char*> pointers_;
};

}  // namespace quorvex::cli
