#include "WindowStartup.h"

#include <signal.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "BenchCommon.h"
#include "ChildProcess.h"

namespace quorvex::bench {
namespace {

namespace fs = std::filesystem;
using process::Clock;

// Environment variable that makes the window print "shown" and quit once it is up.
constexpr const char* kShownHook = "QUORVEX_EXIT_WHEN_SHOWN";

}  // namespace

std::optional<double> WindowStartup(const fs::path& window, const fs::path& folder, int runs,
                                    std::string* note) {
  std::error_code ignored;
  if (!fs::exists(window, ignored)) {
    *note = "skipped: " + window.string() + " is not built (configure with -DQUORVEX_BUILD_APP=ON)";
    return std::nullopt;
  }
  std::ifstream in(window, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.find(kShownHook) == std::string::npos) {
    *note = "skipped: " + window.string() + " does not know " + kShownHook +
            " (print \"shown\" and quit once the window is up)";
    return std::nullopt;
  }
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    // A fresh, empty settings folder each time: a first start, which probes the ports and
    // stores empty settings. A stored port that is missing would show a message first.
    const fs::path config = folder / ("config" + std::to_string(i));
    fs::create_directories(config, ignored);
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen",
                                          std::string(kShownHook) + "=1",
                                          "XDG_CONFIG_HOME=" + config.string()};
    process::ChildProcess child;
    if (!child.Start({window.string()}, env, true, note)) return std::nullopt;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    std::optional<double> shown;
    while (auto line = child.ReadLine(deadline)) {
      if (*line == "shown") {
        shown = std::chrono::duration<double>(Clock::now() - child.StartedAt()).count();
        break;
      }
    }
    child.Stop(SIGTERM);
    if (!shown) {
      *note = "skipped: the window did not report \"shown\" within 10 s";
      return std::nullopt;
    }
    times.push_back(*shown);
  }
  return Median(times);
}

}  // namespace quorvex::bench
