#include "Options.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

namespace quorvex::bench {
namespace {

namespace fs = std::filesystem;

void Usage() {
  std::printf(
      "usage: quorvex-bench [--runs N] [--busy N] [--sector N] [--bin DIR]\n"
      "  --runs N    rounds of each measurement, median taken (default 3; a paced programming\n"
      "              run takes about 12.5 s, a round of all paced measurements about two\n"
      "              minutes and a half: a station's round alone takes 45 s)\n"
      "  --busy N    busy loops at normal priority kept running beside a second side-by-side\n"
      "              measurement, and a second station's (default 2; 0 leaves them out)\n"
      "  --sector N  sector the sample firmware is programmed into (default 5)\n"
      "  --bin DIR   folder of quorvex-cli, quorvex-sim and quorvex (default: this program's)\n");
}

}  // namespace

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      Usage();
      std::exit(0);
    } else if (arg == "--runs" && hasValue) {
      options.runs = std::atoi(argv[++i]);
    } else if (arg == "--busy" && hasValue) {
      options.busy = std::atoi(argv[++i]);
    } else if (arg == "--sector" && hasValue) {
      options.sector = std::atoi(argv[++i]);
    } else if (arg == "--bin" && hasValue) {
      options.binDir = argv[++i];
    } else {
      Usage();
      std::exit(2);
    }
  }
  if (options.runs < 1 || options.busy < 0 || options.sector < 1 || options.sector > 64) {
    Usage();
    std::exit(2);
  }
  // Where this program lies: /proc on Linux, else the path it was started by.
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) self = fs::absolute(argv[0]);
  options.ownDir = self.parent_path();
  if (options.binDir.empty()) options.binDir = options.ownDir;
  return options;
}

}  // namespace quorvex::bench
