// A console hands typed letters over as UTF-16 through ReadConsoleW; the narrow runtime
// would give them in the console's input code page (866 on a Russian system), where «д» is
// one byte that no UTF-8 comparison ever matches.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <iostream>
#include <string>

#include "Answer.h"
#include "Utf16.h"

namespace quorvex::cli {
namespace {

// An answer is a word; a longer line is read to its end, and only its start is kept.
constexpr std::size_t kKeptCharacters = 256;

}  // namespace

bool ReadAnswerLine(std::string* line) {
  line->clear();
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input == INVALID_HANDLE_VALUE || input == nullptr ||
      ::GetConsoleMode(input, &mode) == FALSE) {
    return static_cast<bool>(std::getline(std::cin, *line));  // not a console: its bytes
  }
  std::wstring typed;
  for (;;) {
    wchar_t buffer[128];
    DWORD read = 0;
    // Nothing read is the end: input closed, an error, or Ctrl-C during the wait.
    if (::ReadConsoleW(input, buffer, 128, &read, nullptr) == FALSE || read == 0) {
      if (typed.empty()) return false;
      break;
    }
    const std::wstring_view chunk(buffer, read);
    const std::size_t end = chunk.find(L'\n');
    const std::wstring_view part = chunk.substr(0, end);
    typed.append(part.substr(0, kKeptCharacters - std::min(typed.size(), kKeptCharacters)));
    if (end != std::wstring_view::npos) break;
  }
  if (!typed.empty() && typed.back() == L'\r') typed.pop_back();
  *line = Utf8FromWide(typed);
  return true;
}

}  // namespace quorvex::cli
