#pragma once

// A program whose stdout and stderr are one pseudo-terminal of a given size, as a person's
// terminal window is; stdin is /dev/null. Everything it writes is handed over as it comes.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace quorvex::test {

struct TerminalRun {
  int code = -1;  // the exit status, or 128 + the signal that ended it
  std::string bytes;
};

// Runs `argv` (argv[0] a path) with `env` ("NAME=value") added to this environment on a
// terminal of `columns` x `lines`; `chunk` sees each read of its output. A program still
// running after `limit` is killed.
inline TerminalRun RunOnTerminal(const std::vector<std::string>& argv,
                                 const std::vector<std::string>& env, unsigned short columns,
                                 unsigned short lines,
                                 const std::function<void(std::string_view)>& chunk,
                                 std::chrono::seconds limit = std::chrono::seconds(60)) {
  TerminalRun run;
  // Everything the child needs is made before fork: after it, only exec and dup2.
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    const bool replaced = std::any_of(env.begin(), env.end(), [&entry](const std::string& v) {
      return entry.substr(0, entry.find('=') + 1) == v.substr(0, v.find('=') + 1);
    });
    if (!replaced) environment.emplace_back(entry);
  }
  environment.insert(environment.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  winsize size{};
  size.ws_col = columns;
  size.ws_row = lines;
  int master = -1;
  int slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0) return run;
  const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    ::dup2(null, STDIN_FILENO);
    ::dup2(slave, STDOUT_FILENO);
    ::dup2(slave, STDERR_FILENO);
    ::close(master);
    ::close(slave);
    ::execve(argp[0], argp.data(), envp.data());
    ::_exit(127);
  }
  ::close(slave);
  ::close(null);
  if (pid < 0) {
    ::close(master);
    return run;
  }
  // The terminal ends when the program (and whatever inherited it) has closed it: a read
  // then fails with EIO.
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      break;
    }
    pollfd pfd{master, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    run.bytes.append(buffer, static_cast<std::size_t>(n));
    chunk(std::string_view(buffer, static_cast<std::size_t>(n)));
  }
  ::close(master);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

}  // namespace quorvex::test
