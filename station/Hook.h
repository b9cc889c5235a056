#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
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
  std::chrono::milliseconds limit{0};  // the limit it ran under, for the complaint
};

inline constexpr std::size_t kHookStderrLineBytes = 200;

inline constexpr std::chrono::seconds kHookLimit{10};

// Runs `argv` (argv[0] found on PATH when it has no slash) with `input` written to its
// standard input, then closed, and `environment` ("NAME=value") added to this process's
// own. Its stdout goes nowhere; stderr is read for its first line. Ended (killed, with every
// process it started in its group where the system allows) once `limit` has passed; what it
// started and left running when it ends goes with it too (a process group on POSIX, a job
// object on Windows). A hook that never reads its input, or exits at once, is no error.
// Never throws; blocks the calling thread only, for at most `limit` and a little more.
HookOutcome RunHook(const std::vector<std::string>& argv, const std::string& input,
                    const std::vector<std::string>& environment,
                    std::chrono::milliseconds limit = kHookLimit);

// The first line of what a hook wrote on stderr, without its line end, cut to
// kHookStderrLineBytes at a character's start: what HookOutcome::stderrLine holds.
std::string FirstStderrLine(std::string_view text);

// The log line for an outcome that was not a clean exit 0; empty for one that was:
// "on-result: exit 3: <stderr line>", "on-result: ended after 10 s", "on-result: cannot start:
// ...". A clean exit's stderr is not a complaint.
std::string HookComplaint(const HookOutcome& outcome);

}  // namespace quorvex::station
