#include "BenchCommon.h"

#include <stdlib.h>  // mkdtemp, getloadavg

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "SampleFirmware.h"

namespace quorvex::bench {
namespace {

namespace fs = std::filesystem;

fs::path g_folder;  // the temporary folder, removed on every way out

}  // namespace

void Fail(const std::string& text) {
  std::fflush(stdout);  // what was measured before stays, also in a file
  std::fprintf(stderr, "quorvex-bench: %s\n", text.c_str());
  process::KillRemainingChildren();
  std::error_code ignored;
  if (!g_folder.empty()) fs::remove_all(g_folder, ignored);
  std::_Exit(1);
}

fs::path MakeTemporaryFolder() {
  std::string folderTemplate = (fs::temp_directory_path() / "quorvex-bench.XXXXXX").string();
  if (::mkdtemp(folderTemplate.data()) == nullptr) Fail("cannot create a temporary folder");
  g_folder = folderTemplate;
  return g_folder;
}

fs::path WriteSampleFirmware(const fs::path& folder) {
  fs::path path = folder / "bench.fls";
  if (!WriteFirmwareFile(path.string(), SampleImage("BENCH", true))) {
    Fail("cannot write " + path.string());
  }
  return path;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string LoadAverage() {
  double load[3] = {};
  if (::getloadavg(load, 3) != 3) return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
  return text;
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

std::string HowItEnded(const process::ChildCost& cost) {
  return cost.error.empty() ? "ended with exit code " + std::to_string(cost.exitCode)
                            : "could not be waited for (" + cost.error + ")";
}

std::vector<std::string> ProgramCommand(const fs::path& cli, const std::string& port,
                                        const fs::path& firmware, int sector) {
  return {cli.string(),          "-p", port, "-q", "-y", "program", firmware.string(), "-s",
          std::to_string(sector)};
}

std::vector<std::string> ListCommand(const fs::path& cli, const std::string& port) {
  return {cli.string(), "-p", port, "list"};
}

}  // namespace quorvex::bench
