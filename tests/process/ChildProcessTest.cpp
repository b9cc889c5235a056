// How a child's end is learnt: its exit code, also when a signal interrupts the wait, and a
// child that cannot be waited for, which must never read as a success.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace quorvex::test {
namespace {

using process::ChildCost;
using process::ChildProcess;
using process::Clock;

// SIGALRM every 20 ms while it lives, with a handler that does not restart system calls, so
// that a wait in progress returns EINTR.
class InterruptingTimer {
 public:
  InterruptingTimer() {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ::sigaction(SIGALRM, &action, &before_);
    const itimerval every{{0, 20'000}, {0, 20'000}};
    ::setitimer(ITIMER_REAL, &every, nullptr);
  }
  ~InterruptingTimer() {
    const itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &before_, nullptr);
  }
  InterruptingTimer(const InterruptingTimer&) = delete;
  InterruptingTimer& operator=(const InterruptingTimer&) = delete;

 private:
  struct sigaction before_ {};
};

struct WaitCase {
  const char* name;
  const char* script;    // run by /bin/sh -c
  bool untilDeadline;    // WaitUntil instead of Wait
  bool interrupted;      // signals arrive while waiting
  bool reapedElsewhere;  // someone else collects the child first
  int exitCode;
  bool lost;  // the end is unknown: an error, not an exit code
};

void PrintTo(const WaitCase& c, std::ostream* os) { *os << c.name; }

class ChildWaitTest : public ::testing::TestWithParam<WaitCase> {};

TEST_P(ChildWaitTest, EndOfTheChild) {
  const WaitCase& c = GetParam();
  ChildProcess child;
  std::string error;
  ASSERT_TRUE(child.Start({"/bin/sh", "-c", c.script}, {}, false, &error)) << error;
  if (c.reapedElsewhere) {
    int status = 0;
    ASSERT_EQ(::waitpid(child.Pid(), &status, 0), child.Pid());
  }

  ChildCost cost;
  {
    std::optional<InterruptingTimer> timer;
    if (c.interrupted) timer.emplace();
    if (c.untilDeadline) {
      const std::optional<ChildCost> ended =
          child.WaitUntil(Clock::now() + std::chrono::seconds(10));
      ASSERT_TRUE(ended.has_value()) << "reported as still running";
      cost = *ended;
    } else {
      cost = child.Wait();
    }
  }

  EXPECT_FALSE(child.Running());
  EXPECT_EQ(cost.exitCode, c.exitCode);
  if (c.lost) {
    EXPECT_NE(cost.error.find("No child process"), std::string::npos) << cost.error;
  } else {
    EXPECT_EQ(cost.error, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Waits, ChildWaitTest,
                         ::testing::ValuesIn(std::vector<WaitCase>{
                             {"ExitCode", "exit 7", false, false, false, 7, false},
                             {"ExitCodeUntilDeadline", "exit 7", true, false, false, 7, false},
                             {"InterruptedWait", "sleep 0.2; exit 5", false, true, false, 5, false},
                             {"ReapedElsewhere", "exit 0", false, false, true, -1, true},
                             {"ReapedElsewhereUntilDeadline", "exit 0", true, false, true, -1,
                              true},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex::test
