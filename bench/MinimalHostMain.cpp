// quorvex-minimal-host: the bench's minimal host as a program of its own, so that it pays the
// start and end of a process as quorvex-cli does. Lists the information blocks of all 64
// sectors on the line given, prints nothing, and exits 0 when every reply was good.
#include <cstdio>
#include <string>

#include "BaselineHost.h"

int main(int argc, char** argv) {
  if (argc != 3 || std::string(argv[2]) != "list") {
    std::fputs("usage: quorvex-minimal-host LINE list\n", stderr);
    return 2;
  }
  quorvex::bench::BaselineHost host;
  std::string error;
  if (!host.Open(argv[1], &error) || !host.List(&error)) {
    std::fprintf(stderr, "quorvex-minimal-host: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
