#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvex::cli {

struct GlobalOptions {
  // Listed names (ttyUSB0, COM3), paths or usb:SERIAL; one run each. Empty: the stored one.
  std::vector<std::string> ports;
  bool simulate = false;  // run a simulated instrument in this process and use it
  bool yes = false;       // answer Yes to the overwrite question
  bool quiet = false;     // no progress bar
  bool json = false;      // NDJSON events on stdout instead of text
  std::string logFile;    // the audit record to append to; empty: none
};

int RunPorts(const GlobalOptions& options, bool withIdentity);
int RunCheck(const GlobalOptions& options);
int RunList(const GlobalOptions& options);
int RunClear(const GlobalOptions& options, const std::string& sector);
int RunProgram(const GlobalOptions& options, const std::string& file, const std::string& sector);
int RunDecode(const GlobalOptions& options, const std::string& file, const std::string& output);
int RunEncode(const GlobalOptions& options, const std::string& image, const std::string& output);
int RunInspect(const GlobalOptions& options, const std::string& file);
// `units`: end once that many units have ended; none: run until stopped.
int RunStation(const GlobalOptions& options, const std::string& job, std::optional<int> units);

}  // namespace quorvex::cli
