#include <signal.h>

#include "ChildProcess.h"
#include "Hook.h"

namespace quorvex::station {

HookOutcome RunHook(const std::vector<std::string>& argv, const std::string& input,
                    const std::vector<std::string>& environment, std::chrono::milliseconds limit) {
  HookOutcome outcome;
  outcome.limit = limit;
  if (argv.empty() || argv[0].empty()) {
    outcome.error = "no command";
    return outcome;
  }
  process::ChildSpec spec;
  spec.argv = argv;
  spec.env = environment;
  spec.out = process::Redirect::Null();
  spec.err = process::Redirect::Pipe();
  spec.in = process::Redirect::Pipe();
  spec.input = input;
  spec.searchPath = true;
  spec.ownGroup = true;

  process::ChildProcess child;
  std::string error;
  if (!child.Start(spec, &error)) {
    // "cannot start" is the complaint's own word already.
    const std::string_view prefix = "cannot start ";
    if (error.starts_with(prefix)) error.erase(0, prefix.size());
    outcome.error = error;
    return outcome;
  }
  outcome.started = true;
  std::optional<process::ChildCost> cost = child.WaitUntil(child.StartedAt() + limit);
  if (!cost) {
    outcome.timedOut = true;
    cost = child.Stop(SIGKILL);  // the whole group; reaped at once
  }
  outcome.exitCode = cost->exitCode;
  outcome.error = cost->error;
  outcome.stderrLine = FirstStderrLine(child.ErrorHead());
  return outcome;
}

}  // namespace quorvex::station
