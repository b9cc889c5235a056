// The quorvex-sim program: first line, link, clean ends.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Hex.h"
#include "LineHost.h"

extern char** environ;

namespace quorvex::sim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quorvex::test::Hex;
using quorvex::test::ToHex;

// quorvex-sim running as a child, its stdout on a pipe.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    args.insert(args.begin(), QUORVEX_SIM_PATH);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, QUORVEX_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    stdout_ = out[0];
  }
  ~SimProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // The next line on its stdout, without the newline; "" when none came in time.
  std::string Line(std::chrono::milliseconds timeout = 3s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto newline = buffered_.find('\n');
      if (newline != std::string::npos) {
        std::string line = buffered_.substr(0, newline);
        buffered_.erase(0, newline + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd pfd{.fd = stdout_, .events = POLLIN, .revents = 0};
      if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) return "";
      char chunk[256];
      const ssize_t n = ::read(stdout_, chunk, sizeof chunk);
      if (n <= 0) return "";
      buffered_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // The exit code, or -1 when it did not exit normally within the time-out.
  int Wait(std::chrono::milliseconds timeout = 3s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(5ms);
    }
    return -1;
  }

  void Signal(int signal) const { ::kill(pid_, signal); }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string buffered_;
};

class ProgramDir : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quorvex-sim-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(ProgramDir, PrintsThePortServesAndEndsCleanlyOnSigterm) {
  const std::string link = (dir_ / "scanner").string();
  SimProcess sim({"--link", link});
  const std::string port = sim.Line();
  ASSERT_FALSE(port.empty());
  EXPECT_EQ(fs::read_symlink(link).string(), port);
  {
    test::LineHost host(link);
    ASSERT_TRUE(host.Write(Hex("01 00 02 FC")));
    EXPECT_EQ(ToHex(host.Read(6)), "03 00 FD 45 B3 07");
  }
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(ProgramDir, ExitsWithZeroWhenTheFaultHangsUpTheLine) {
  SimProcess sim({"--fault", "hangup-after=0"});
  const std::string port = sim.Line();
  ASSERT_FALSE(port.empty());
  test::LineHost host(port);
  ASSERT_TRUE(host.Write(Hex("02 00 32 00 CB")));
  EXPECT_EQ(ToHex(host.Read(4)), "01 00 CD 31");
  EXPECT_NE(sim.Line(), "");
  EXPECT_EQ(sim.Wait(), 0);
}

TEST_F(ProgramDir, BadFaultIsABadArgument) {
  SimProcess sim({"--fault", "explode"});
  EXPECT_EQ(sim.Wait(), 2);
}

}  // namespace
}  // namespace quorvex::sim
