#pragma once

namespace quorvex::cli {

// Ctrl-C. While a transfer may run, it only raises a flag that the terminal operator turns
// into the Cancel button; at any other time it ends the program the usual way.
void InstallInterruptHandler();
void SetStopOnInterrupt(bool stop);
bool InterruptRequested();

}  // namespace quorvex::cli
