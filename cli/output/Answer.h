#pragma once

#include <string>
#include <string_view>

namespace quorvex::cli {

// Whether a typed answer to the overwrite question means Yes: y, yes, д or да in any case
// (a Russian keyboard layout gives «д» where the Latin one gives «y»), spaces around it
// ignored. Anything else, an empty line included, is No.
bool IsYesAnswer(std::string_view reply);

// One line typed at the terminal, in UTF-8, without its line end. False when nothing more can
// be read (end of input, an error, or Ctrl-C during the wait). On Windows a console is read as
// wide characters, so the letters arrive whatever the console's input code page.
bool ReadAnswerLine(std::string* line);

}  // namespace quorvex::cli
