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
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "SystemErrorText.h"

// Not every C library declares it.
extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace quorvex::process {
namespace {

std::mutex g_runningMutex;     // several threads start and reap children at once
std::vector<pid_t> g_running;  // children started and not yet reaped

constexpr auto kPollStep = std::chrono::milliseconds(5);

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

// A pipe whose ends do not leak into other children. pipe2 is not everywhere; where it is,
// no child that another thread starts meanwhile can inherit an end (a leaked write end of a
// child's stdin would keep it from ever seeing the end of its input).
bool OpenPipe(int fds[2]) {
#ifdef __linux__
  return ::pipe2(fds, O_CLOEXEC) == 0;
#else
  if (::pipe(fds) != 0) return false;
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return true;
#endif
}

void CloseFd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

void SetNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// write() to a pipe whose reader has gone raises SIGPIPE, which would end this process unless
// it ignores the signal. Blocked in this thread for the one call, and taken back if the write
// raised it, the signal is never delivered: the write fails with EPIPE instead.
ssize_t WriteWithoutSigpipe(int fd, const char* data, std::size_t size) {
  sigset_t pipeOnly;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  sigset_t before;
  ::pthread_sigmask(SIG_BLOCK, &pipeOnly, &before);
  sigset_t pending;
  sigemptyset(&pending);
  ::sigpending(&pending);
  const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
  const ssize_t written = ::write(fd, data, size);
  const int writeError = errno;
  if (written < 0 && writeError == EPIPE && !alreadyPending) {
    const timespec noWait{};
    while (::sigtimedwait(&pipeOnly, nullptr, &noWait) < 0 && errno == EINTR) {
    }
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  errno = writeError;
  return written;
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
  ClosePipes();
}

bool ChildProcess::Start(const ChildSpec& spec, std::string* error) {
  const bool captureOut = spec.out.kind == Redirect::Kind::Pipe;
  const bool captureErr = spec.err.kind == Redirect::Kind::Pipe;
  const bool feedIn = spec.in.kind == Redirect::Kind::Pipe;
  int outFds[2] = {-1, -1};
  int errFds[2] = {-1, -1};
  int inFds[2] = {-1, -1};
  const auto closeAll = [&] {
    for (int* fd : {&outFds[0], &outFds[1], &errFds[0], &errFds[1], &inFds[0], &inFds[1]}) {
      CloseFd(fd);
    }
  };
  if ((captureOut && !OpenPipe(outFds)) || (captureErr && !OpenPipe(errFds)) ||
      (feedIn && !OpenPipe(inFds))) {
    *error = "pipe: " + SystemErrorText(errno);
    closeAll();
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (spec.in.kind == Redirect::Kind::Closed) {
    posix_spawn_file_actions_addclose(&actions, STDIN_FILENO);
  } else if (feedIn) {
    posix_spawn_file_actions_adddup2(&actions, inFds[0], STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  AddRedirect(&actions, STDOUT_FILENO, spec.out, outFds[1]);
  AddRedirect(&actions, STDERR_FILENO, spec.err, errFds[1]);

  // The child starts with no signal blocked and SIGPIPE at its default, whatever this thread
  // blocks or this process ignores.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (spec.ownGroup) {
    posix_spawnattr_setpgroup(&attributes, 0);
    flags |= POSIX_SPAWN_SETPGROUP;
  }
  posix_spawnattr_setflags(&attributes, flags);

  std::vector<std::string> args = spec.argv;
  std::vector<std::string> env = EnvironmentWith(spec.env);
  std::vector<char*> argPointers = Pointers(args);
  std::vector<char*> envPointers = Pointers(env);
  started_ = Clock::now();
  const int failed = args.empty() ? EINVAL
                     : spec.searchPath
                         ? ::posix_spawnp(&pid_, args[0].c_str(), &actions, &attributes,
                                          argPointers.data(), envPointers.data())
                         : ::posix_spawn(&pid_, args[0].c_str(), &actions, &attributes,
                                         argPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  CloseFd(&outFds[1]);
  CloseFd(&errFds[1]);
  CloseFd(&inFds[0]);
  if (failed != 0) {
    pid_ = -1;
    closeAll();
    *error = "cannot start " + (args.empty() ? std::string("(no program)") : args[0]) + ": " +
             SystemErrorText(failed);
    return false;
  }
  stdoutRead_ = outFds[0];
  stderrRead_ = errFds[0];
  if (stderrRead_ >= 0) SetNonBlocking(stderrRead_);
  stdinWrite_ = inFds[1];
  input_ = feedIn ? spec.input : std::string();
  inputWritten_ = 0;
  errorHead_.clear();
  ownGroup_ = spec.ownGroup;
  if (stdinWrite_ >= 0) {
    SetNonBlocking(stdinWrite_);
    if (input_.empty()) CloseInput();
  }
  {
    const std::lock_guard lock(g_runningMutex);
    g_running.push_back(pid_);
  }
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
  ReadErrors();  // what it wrote just before it ended
  ClosePipes();
  Forget();
  return cost;
}

// wait4 refused the child (ECHILD: reaped elsewhere, or SIGCHLD ignored): how it ended is
// unknown. The process id is no longer ours to signal.
ChildCost ChildProcess::Lost(int error) {
  ChildCost cost;
  cost.wallSeconds = std::chrono::duration<double>(Clock::now() - started_).count();
  cost.error = "cannot wait for process " + std::to_string(pid_) + ": " + SystemErrorText(error);
  ClosePipes();
  Forget();
  return cost;
}

void ChildProcess::Forget() {
  {
    const std::lock_guard lock(g_runningMutex);
    g_running.erase(std::remove(g_running.begin(), g_running.end(), pid_), g_running.end());
  }
  pid_ = -1;
}

void ChildProcess::CloseInput() {
  CloseFd(&stdinWrite_);
  input_.clear();
  inputWritten_ = 0;
}

void ChildProcess::ClosePipes() {
  CloseInput();
  CloseFd(&stderrRead_);
}

void ChildProcess::WriteInput() {
  while (stdinWrite_ >= 0 && inputWritten_ < input_.size()) {
    const ssize_t n = WriteWithoutSigpipe(stdinWrite_, input_.data() + inputWritten_,
                                          input_.size() - inputWritten_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // the pipe is full
    if (n <= 0) break;  // EPIPE: the child will read no more, which is its own business
    inputWritten_ += static_cast<std::size_t>(n);
  }
  CloseInput();
}

void ChildProcess::ReadErrors() {
  // Bounded, for a child (or one it started) that keeps writing as fast as this reads.
  for (int round = 0; stderrRead_ >= 0 && round < 64; ++round) {
    char buffer[4096];
    const ssize_t n = ::read(stderrRead_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      CloseFd(&stderrRead_);
      return;
    }
    const std::size_t room = kErrorHeadBytes - errorHead_.size();
    errorHead_.append(buffer, std::min(room, static_cast<std::size_t>(n)));
  }
}

void ChildProcess::ServicePipes(Clock::time_point until) {
  pollfd fds[2];
  nfds_t count = 0;
  if (stdinWrite_ >= 0) fds[count++] = {stdinWrite_, POLLOUT, 0};
  if (stderrRead_ >= 0) fds[count++] = {stderrRead_, POLLIN, 0};
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
  const int ready = ::poll(
      fds, count, static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count())));
  if (ready <= 0) return;  // the time is up, or EINTR: the caller's loop comes back
  for (nfds_t i = 0; i < count; ++i) {
    if (fds[i].revents == 0) continue;
    if (fds[i].fd == stdinWrite_) WriteInput();
    if (fds[i].fd == stderrRead_) ReadErrors();
  }
}

std::optional<ChildCost> ChildProcess::TryReap() {
  for (;;) {
    int status = 0;
    rusage usage{};
    if (ownGroup_) {
      // Seen ended but not reaped yet: while it is a zombie its process id, the group's id,
      // cannot go to another process, so the group is still the one it led.
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) < 0) {
        if (errno == EINTR) continue;
        return Lost(errno);
      }
      if (info.si_pid == 0) return std::nullopt;
      ::killpg(pid_, SIGKILL);
    }
    const pid_t reaped = ::wait4(pid_, &status, ownGroup_ ? 0 : WNOHANG, &usage);
    if (reaped == pid_) return Reaped(status, usage);
    if (reaped < 0 && errno == EINTR) continue;
    if (reaped < 0) return Lost(errno);
    return std::nullopt;
  }
}

ChildCost ChildProcess::Wait() {
  if (pid_ <= 0) return {};
  // Pipes to serve, or a group to end with it: the polling wait, without a deadline.
  if (stdinWrite_ >= 0 || stderrRead_ >= 0 || ownGroup_) {
    return *WaitUntil(Clock::time_point::max());
  }
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
    if (std::optional<ChildCost> ended = TryReap()) return ended;
    const auto now = Clock::now();
    if (now >= deadline) return std::nullopt;
    ServicePipes(now + std::min<Clock::duration>(kPollStep, deadline - now));
  }
}

void ChildProcess::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

ChildCost ChildProcess::Stop(int signal) {
  if (ownGroup_ && pid_ > 0) {
    ::killpg(pid_, signal);
  } else {
    Signal(signal);
  }
  CloseInput();
  return Wait();
}

void KillRemainingChildren() {
  const std::lock_guard lock(g_runningMutex);
  for (const pid_t pid : g_running) ::kill(pid, SIGKILL);
  g_running.clear();
}

ChildCost RunToEnd(const std::vector<std::string>& argv, std::string* error) {
  ChildProcess child;
  if (!child.Start(argv, {}, false, error)) return {};
  return child.Wait();
}

}  // namespace quorvex::process
