#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>

#include "SystemErrorText.h"

// Not every C library declares it.
extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace quorvex::process {
namespace {

std::vector<pid_t> g_running;  // children started and not yet reaped

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// This process's environment with the extra entries added; an extra entry replaces an
// inherited one of the same name.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& extra) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string inherited(*entry);
    const std::string name = inherited.substr(0, inherited.find('=') + 1);
    bool replaced = false;
    for (const std::string& e : extra) replaced = replaced || e.starts_with(name);
    if (!replaced) result.push_back(inherited);
  }
  result.insert(result.end(), extra.begin(), extra.end());
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// A pipe whose ends do not leak into other children (pipe2 is not everywhere).
bool OpenPipe(int fds[2]) {
  if (::pipe(fds) != 0) return false;
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return true;
}

void AddRedirect(posix_spawn_file_actions_t* actions, int fd, const Redirect& to, int pipeEnd) {
  if (to.kind == Redirect::Kind::Closed) {
    posix_spawn_file_actions_addclose(actions, fd);
  } else if (to.kind == Redirect::Kind::File) {
    posix_spawn_file_actions_addopen(actions, fd, to.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  } else if (to.kind == Redirect::Kind::Pipe && pipeEnd >= 0) {
    posix_spawn_file_actions_adddup2(actions, pipeEnd, fd);
  } else {
    posix_spawn_file_actions_addopen(actions, fd, "/dev/null", O_WRONLY, 0);
  }
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0) Stop(SIGKILL);
  if (stdoutRead_ >= 0) ::close(stdoutRead_);
}

bool ChildProcess::Start(const ChildSpec& spec, std::string* error) {
  const bool capture = spec.out.kind == Redirect::Kind::Pipe;
  int pipeFds[2] = {-1, -1};
  if (capture && !OpenPipe(pipeFds)) {
    *error = "pipe: " + SystemErrorText(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (spec.in.kind == Redirect::Kind::Closed) {
    posix_spawn_file_actions_addclose(&actions, STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  AddRedirect(&actions, STDOUT_FILENO, spec.out, pipeFds[1]);
  AddRedirect(&actions, STDERR_FILENO, spec.err, -1);

  std::vector<std::string> args = spec.argv;
  std::vector<std::string> env = EnvironmentWith(spec.env);
  std::vector<char*> argPointers = Pointers(args);
  std::vector<char*> envPointers = Pointers(env);
  started_ = Clock::now();
  const int failed = ::posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argPointers.data(),
                                   envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (capture) ::close(pipeFds[1]);
  if (failed != 0) {
    pid_ = -1;
    if (capture) ::close(pipeFds[0]);
    *error = "cannot start " + args[0] + ": " + SystemErrorText(failed);
    return false;
  }
  stdoutRead_ = capture ? pipeFds[0] : -1;
  g_running.push_back(pid_);
  return true;
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnv, bool captureStdout,
                         std::string* error) {
  return Start({argv, extraEnv, captureStdout ? Redirect::Pipe() : Redirect::Null(), {}, {}},
               error);
}

std::optional<std::string> ChildProcess::ReadLine(Clock::time_point deadline) {
  for (;;) {
    if (const auto end = pending_.find('\n'); end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    if (stdoutRead_ < 0) return std::nullopt;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd pfd{stdoutRead_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char buffer[512];
    const ssize_t n = ::read(stdoutRead_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

void ChildProcess::CloseStdout() {
  if (stdoutRead_ >= 0) ::close(stdoutRead_);
  stdoutRead_ = -1;
  pending_.clear();
}

ChildCost ChildProcess::Reaped(int status, const rusage& usage) {
  ChildCost cost;
  cost.wallSeconds = std::chrono::duration<double>(Clock::now() - started_).count();
  cost.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  cost.peakKilobytes = usage.ru_maxrss;  // kilobytes on Linux
  cost.voluntarySwitches = usage.ru_nvcsw;
  cost.involuntarySwitches = usage.ru_nivcsw;
  cost.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  Forget();
  return cost;
}

// wait4 refused the child (ECHILD: reaped elsewhere, or SIGCHLD ignored): how it ended is
// unknown. The process id is no longer ours to signal.
ChildCost ChildProcess::Lost(int error) {
  ChildCost cost;
  cost.wallSeconds = std::chrono::duration<double>(Clock::now() - started_).count();
  cost.error = "cannot wait for process " + std::to_string(pid_) + ": " + SystemErrorText(error);
  Forget();
  return cost;
}

void ChildProcess::Forget() {
  g_running.erase(std::remove(g_running.begin(), g_running.end(), pid_), g_running.end());
  pid_ = -1;
}

ChildCost ChildProcess::Wait() {
  if (pid_ <= 0) return {};
  for (;;) {
    int status = 0;
    rusage usage{};
    if (::wait4(pid_, &status, 0, &usage) == pid_) return Reaped(status, usage);
    if (errno != EINTR) return Lost(errno);
  }
}

std::optional<ChildCost> ChildProcess::WaitUntil(Clock::time_point deadline) {
  for (;;) {
    if (pid_ <= 0) return ChildCost{};
    int status = 0;
    rusage usage{};
    const pid_t reaped = ::wait4(pid_, &status, WNOHANG, &usage);
    if (reaped == pid_) return Reaped(status, usage);
    if (reaped < 0 && errno == EINTR) continue;
    if (reaped < 0) return Lost(errno);
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ChildProcess::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

ChildCost ChildProcess::Stop(int signal) {
  Signal(signal);
  return Wait();
}

void KillRemainingChildren() {
  for (const pid_t pid : g_running) ::kill(pid, SIGKILL);
  g_running.clear();
}

ChildCost RunToEnd(const std::vector<std::string>& argv, std::string* error) {
  ChildProcess child;
  if (!child.Start(argv, {}, false, error)) return {};
  return child.Wait();
}

}  // namespace quorvex::process
