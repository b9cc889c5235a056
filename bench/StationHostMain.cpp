// quorvex-station-host: the station engine as a program of its own, with nothing around it, for
// the benchmark to measure beside quorvex-cli when the build at hand has no station command.
// Each unit's record goes to stdout as one JSON line (a `unit` event); SIGINT and SIGTERM stop
// the station.
//   quorvex-station-host JOB.toml --units N -p PORT [-p PORT]...
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Job.h"
#include "Report.h"
#include "Station.h"

namespace {

using namespace quorvex::station;

// Only the units' records; every other report of the station is dropped.
class UnitLines final : public Report {
 public:
  void SlotChanged(const SlotStatus&) override {}
  void SlotLog(int, std::string_view) override {}
  void SlotMessage(int, std::string_view, std::string_view) override {}
  void SlotProgress(int, int, std::size_t, std::size_t, bool) override {}
  void SlotNote(int slot, std::string_view text) override {
    const std::lock_guard lock(mutex_);
    std::fprintf(stderr, "slot %d: %.*s\n", slot, static_cast<int>(text.size()), text.data());
  }
  void UnitEnded(const UnitRecord&, const quorvex::json& line) override {
    quorvex::json event = {{"event", "unit"}};
    event.update(line);
    const std::string text = event.dump(-1, ' ', false, quorvex::json::error_handler_t::replace);
    const std::lock_guard lock(mutex_);
    std::fprintf(stdout, "%s\n", text.c_str());
    std::fflush(stdout);
  }

 private:
  std::mutex mutex_;
};

int Usage() {
  std::fputs("usage: quorvex-station-host JOB.toml --units N -p PORT [-p PORT]...\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string jobPath = argv[1];
  std::vector<SlotSpec> slots;
  StationOptions options;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string_view option = argv[i];
    if (option == "--units") {
      options.units = std::atoi(argv[i + 1]);
    } else if (option == "-p") {
      slots.push_back({argv[i + 1], argv[i + 1]});
    } else {
      return Usage();
    }
  }
  if (argc % 2 != 0 || options.units < 1 || !SlotSpecProblem(slots).empty()) return Usage();
  Job job;
  std::string error;
  if (!LoadJob(jobPath, &job, &error)) {
    std::fprintf(stderr, "quorvex-station-host: %s\n", error.c_str());
    return 2;
  }

  // The signals are taken by a thread of their own: every other thread starts with them blocked.
  sigset_t stopping;
  sigemptyset(&stopping);
  sigaddset(&stopping, SIGINT);
  sigaddset(&stopping, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
  UnitLines report;
  Station station(std::move(job), std::move(slots), report, options);
  std::thread([&station, stopping] {
    int signal = 0;
    ::sigwait(&stopping, &signal);
    station.Stop();
  }).detach();
  station.Start();
  // Out without the station's destructor: the signal thread may still reach it.
  std::exit(station.Wait());
}
