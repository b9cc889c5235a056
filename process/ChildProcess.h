#pragma once

// Programs started as separate processes, the way a bench script runs them: used by the
// benchmark and by every test that drives quorvex-cli or quorvex-sim as a program.
#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::process {

using Clock = std::chrono::steady_clock;

// What one finished child cost: wall time from just before it was started to the moment it
// was reaped, and its own CPU time and peak memory as the kernel accounted them.
struct ChildCost {
  // The exit status, or 128 + the signal that ended it; -1: never ran, or its end could not be
  // learnt (`error` says why).
  int exitCode = -1;
  std::string error;
  double wallSeconds = 0;
  double cpuSeconds = 0;  // user + system
  long peakKilobytes = 0;
  // Context switches: voluntary ones are the waits for the line (each a wake-up later),
  // involuntary ones the times another program took the CPU from it.
  long voluntarySwitches = 0;
  long involuntarySwitches = 0;
};

// Where one of the child's standard streams goes.
struct Redirect {
  // Closed: the child starts with that descriptor closed, as a scheduler or `>&-` starts it.
  enum class Kind { Null, Pipe, File, Closed };
  Kind kind = Kind::Null;
  std::string path;  // for File: created or truncated

  static Redirect Null() { return {}; }
  static Redirect Pipe() { return {Kind::Pipe, {}}; }
  static Redirect ToFile(std::string path) { return {Kind::File, std::move(path)}; }
  static Redirect Closed() { return {Kind::Closed, {}}; }
};

struct ChildSpec {
  std::vector<std::string> argv;  // argv[0] is the program's path
  std::vector<std::string> env;   // "NAME=value", added to (and overriding) this environment
  Redirect out;                   // stdout
  // stderr. Pipe: read by the waits (Wait, WaitUntil, Stop), its first bytes kept (ErrorHead).
  Redirect err;
  // stdin: /dev/null, Closed, or Pipe: `input` written to it by the waits as the child takes
  // it, then closed (File is taken as Null). A child that stops reading early is no error.
  Redirect in;
  std::string input{};
  // argv[0] without a slash is looked for on PATH, as a shell does.
  bool searchPath = false;
  // The child leads a process group of its own, and everything left in that group when the
  // child ends, or is stopped, is killed with it: a shell script's own children too.
  bool ownGroup = false;
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Start(const ChildSpec& spec, std::string* error);
  // The old form: stdout to a pipe (captureStdout) or /dev/null, stderr to /dev/null.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
             bool captureStdout, std::string* error);
  // The next line of its stdout pipe without the line feed; nullopt when the child closed
  // stdout or the deadline passed first.
  std::optional<std::string> ReadLine(Clock::time_point deadline);
  // Closes this end of its stdout pipe, as a reader that has read all it wanted (| head -1).
  void CloseStdout();
  // Waits for the child to end and reaps it. A child that cannot be waited for (reaped by
  // someone else) ends with exitCode -1 and `error`, never as a success.
  ChildCost Wait();
  // Waits until the deadline; nullopt when the child is still running then. A child that
  // cannot be waited for ends as in Wait().
  std::optional<ChildCost> WaitUntil(Clock::time_point deadline);
  void Signal(int signal) const;
  // Sends the signal (to its whole group, for ownGroup), then reaps the child.
  ChildCost Stop(int signal);
  // The first bytes (at most kErrorHeadBytes) the child wrote on a stderr Pipe; the rest is
  // read and dropped, so that a talkative child never blocks on a full pipe.
  [[nodiscard]] const std::string& ErrorHead() const { return errorHead_; }
  static constexpr std::size_t kErrorHeadBytes = 4096;
  [[nodiscard]] bool Running() const { return pid_ > 0; }
  [[nodiscard]] pid_t Pid() const { return pid_; }
  [[nodiscard]] Clock::time_point StartedAt() const { return started_; }

 private:
  ChildCost Reaped(int status, const ::rusage& usage);
  ChildCost Lost(int error);
  void Forget();
  // nullopt while the child runs; otherwise how it ended, reaped.
  std::optional<ChildCost> TryReap();
  // Writes input and reads stderr, whichever the pipes allow, until `until` at the latest.
  void ServicePipes(Clock::time_point until);
  void WriteInput();
  void ReadErrors();
  void CloseInput();
  void ClosePipes();

  pid_t pid_ = -1;
  int stdoutRead_ = -1;
  std::string pending_;
  int stdinWrite_ = -1;
  std::string input_;
  std::size_t inputWritten_ = 0;
  int stderrRead_ = -1;
  std::string errorHead_;
  bool ownGroup_ = false;
  Clock::time_point started_{};
};

// Kills every child still running (for a way out that skips the destructors).
void KillRemainingChildren();

// Runs a program to its end with stdout and stderr discarded.
ChildCost RunToEnd(const std::vector<std::string>& argv, std::string* error);

}  // namespace quorvex::process
