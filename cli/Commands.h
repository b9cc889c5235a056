#pragma once

#include <string>

namespace quorvex::cli {

struct GlobalOptions {
  std::string port;       // a listed name (ttyUSB0, COM3) or a path; empty: the stored one
  bool simulate = false;  // run a simulated instrument in this process and use it
  bool yes = false;       // answer Yes to the overwrite question
  bool quiet = false;     // no progress bar
};

int RunPorts(const GlobalOptions& options);
int RunCheck(const GlobalOptions& options);
int RunList(const GlobalOptions& options);
int RunClear(const GlobalOptions& options, const std::string& sector);
int RunProgram(const GlobalOptions& options, const std::string& file, const std::string& sector);
int RunDecode(const std::string& file, const std::string& output);
int RunEncode(const std::string& image, const std::string& output);
int RunInspect(const std::string& file);

}  // namespace quorvex::cli
