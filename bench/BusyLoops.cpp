#include "BusyLoops.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace quorvex::bench {

BusyLoops::BusyLoops(int count) {
  const pid_t parent = ::getpid();
  for (int i = 0; i < count; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
#ifdef __linux__
      // Should the benchmark die without its destructors, the loops go with it.
      (void)::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
      if (::getppid() != parent) ::_exit(0);  // it died before the request took hold
      // User time only: no system call, no memory traffic, nothing but the CPU.
      volatile unsigned long spins = 0;
      for (;;) spins = spins + 1;
    }
    if (pid > 0) pids_.push_back(pid);
  }
}

BusyLoops::~BusyLoops() {
  for (const pid_t pid : pids_) ::kill(pid, SIGKILL);
  for (const pid_t pid : pids_) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

}  // namespace quorvex::bench
