#pragma once

#include <filesystem>

namespace quorvex::bench {

// What the command line asks of this run of the benchmark.
struct Options {
  int runs = 3;
  int sector = 5;
  int busy = 2;  // busy loops beside the second side-by-side measurement; 0 skips it
  std::filesystem::path binDir;
  // This program's own folder, which holds the minimal host as a program of its own (a build
  // given with --bin may be older than the bench and have none).
  std::filesystem::path ownDir;
};

// The options, or the usage text and an exit: 0 for --help, 2 for anything it does not know.
// Without --bin, the programs are looked for beside this one.
Options ParseOptions(int argc, char** argv);

}  // namespace quorvex::bench
