#include "PacedInstruments.h"

#include <signal.h>

#include <chrono>

#include "BenchCommon.h"

namespace quorvex::bench {

std::string PacedInstruments::Start(const std::filesystem::path& link,
                                    const std::vector<std::string>& more) {
  auto child = std::make_unique<process::ChildProcess>();
  std::vector<std::string> argv{simulator_.string(), "--pace", "--link", link.string()};
  argv.insert(argv.end(), more.begin(), more.end());
  std::string error;
  if (!child->Start(argv, {}, true, &error)) {
    Fail(error);
  }
  if (!child->ReadLine(process::Clock::now() + std::chrono::seconds(10))) {
    Fail("quorvex-sim did not print its pseudo-terminal");
  }
  running_.push_back(std::move(child));
  return link.string();
}

void PacedInstruments::StopAll() {
  for (auto& child : running_) child->Stop(SIGTERM);
  running_.clear();
}

}  // namespace quorvex::bench
