#pragma once

namespace quorvex::cli {

// Every way the program is told to end: Ctrl-C, SIGTERM (a service manager, kill), SIGHUP (the
// terminal closed), and on Windows every console control event (Ctrl-C, Ctrl-Break, the
// console closed, log-off, shut-down). While device commands run, it only raises a flag: every
// run stops before its next request, and a transfer after its current block, as the Cancel
// button would stop it; each run writes its record and releases its port, and the program
// exits 3. At any other time it ends the program the usual way.
void InstallInterruptHandler();
void SetStopOnInterrupt(bool stop);
bool InterruptRequested();

}  // namespace quorvex::cli
