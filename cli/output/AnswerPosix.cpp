// The terminal delivers the bytes of its locale, UTF-8 on every system this build is for.
#include <iostream>

#include "Answer.h"

namespace quorvex::cli {

bool ReadAnswerLine(std::string* line) { return static_cast<bool>(std::getline(std::cin, *line)); }

}  // namespace quorvex::cli
