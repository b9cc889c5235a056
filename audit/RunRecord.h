#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvex {

// How one port's run (or a command without a port) ended, for the summary, the result event
// and the audit record.
struct RunRecord {
  std::string command;  // check, list, clear, program
  std::string port;     // the name the output shows it by
  std::optional<std::string> usbSerial;
  std::optional<std::string> file;
  std::optional<std::string> sha256;
  std::optional<int> sector;
  std::optional<std::string> name;  // the sector name the file writes
  int exit = 0;
  std::string ended;  // what ended it: "ok", or the last message or log line
  double seconds = 0;
  std::vector<std::string> log;
};

}  // namespace quorvex
