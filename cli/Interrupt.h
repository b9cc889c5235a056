#pragma once

namespace quorvex::cli {

// Ctrl-C. While device commands run, it only raises a flag: every run stops before its next
// request, and a transfer after its current block, as the Cancel button would stop it. At any
// other time it ends the program the usual way.
void InstallInterruptHandler();
void SetStopOnInterrupt(bool stop);
bool InterruptRequested();

}  // namespace quorvex::cli
