#include "CommandLine.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include "Utf16.h"
#endif

namespace quorvex::cli {

CommandLine::CommandLine(int argc, char** argv) {
#ifdef _WIN32
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide != nullptr) {
    for (int i = 0; i < count; ++i) arguments_.push_back(Utf8FromWide(wide[i]));
    ::LocalFree(wide);
  }
#endif
  if (arguments_.empty()) arguments_.assign(argv, argv + argc);
  for (const std::string& argument : arguments_) pointers_.push_back(argument.c_str());
}

}  // namespace quorvex::cli
