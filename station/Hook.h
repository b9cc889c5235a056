#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace quorvex::station {

// How a hook's run ended.
struct HookOutcome {
  bool started = false;    // false: it could not be started (`error` says why)
  bool timedOut = false;   // it ran past its limit and was ended
  int exitCode = -1;       // its exit status; 128 + the signal that ended it on POSIX
  std::string error;       // why it could not be started or waited for
  std::string stderrLine;  // the first line it wrote on stderr (at most 200 bytes), for the log
};

inline constexpr std::chrono::seconds kHookLimit{10};

// Runs `argv` (argv[0] found on PATH when it has no slash) with `input` written to its
// standard input, then closed, and `environment` ("NAME=value") added to this process's
// own. Its stdout goes nowhere; stderr is read for its first line. Ended (killed, with every
// process it started in its group where the system allows) once `limit` has passed.
// Never throws; blocks the calling thread only, for at most `limit` and a little more.
HookOutcome RunHook(const std::vector<std::string>& argv, const std::string& input,
                    const std::vector<std::string>& environment,
                    std::chrono::milliseconds limit = kHookLimit);

// The log line for an outcome that was not a clean exit 0; empty for one that was:
// "on-result: exit 3: <stderr line>", "on-result: ended after 10 s", "on-result: cannot start:
// ...".
std::string HookComplaint(const HookOutcome& outcome);

}  // namespace quorvex::station
