#pragma once

namespace quorvex::cli {

enum ExitCode : int {
  kExitDone = 0,
  kExitFailed = 1,    // a failure was reported to the operator
  kExitBadInput = 2,  // bad arguments or an unusable file
  kExitStopped = 3,   // stopped by the operator (Ctrl-C during the transfer)
  kExitDeclined = 4,  // the overwrite of a written sector was declined
};

}  // namespace quorvex::cli
