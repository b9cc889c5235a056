#include <unistd.h>

#include "Output.h"

namespace quorvex::cli {

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) != 0; }
bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

}  // namespace quorvex::cli
