#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "PortIdentity.h"
#include "RunRecord.h"

namespace quorvex::cli {

// Where every run of this process reports: people on a terminal or a script reading JSON.
// Runs of several ports call it from their own threads; every method is safe for that.
// `port` is the run's port name, empty for what belongs to no port.
class Output {
 public:
  virtual ~Output() = default;

  // A line of the run's log, the device code's own words.
  virtual void Log(const std::string& port, std::string_view line) = 0;
  // One sector of a listing, just after its log line: its number, whether a program is
  // loaded in it, and that program's name (empty when none is). Text shows the log line only.
  virtual void SectorListed(const std::string& /*port*/, int /*sector*/, bool /*loaded*/,
                            const std::string& /*name*/) {}
  // A message box of the device code, with its caption; the run goes on once it is shown.
  virtual void Message(const std::string& port, std::string_view caption,
                       std::string_view text) = 0;
  // The overwrite question; `yes` is -y. Returns the answer.
  virtual bool Ask(const std::string& port, std::string_view caption, std::string_view text,
                   bool yes) = 0;
  // The image transfer: `bytes` of `total` sent; `end` once, when it has ended.
  virtual void Progress(const std::string& port, int percent, std::size_t bytes, std::size_t total,
                        bool end) = 0;
  // The program's own remark about a run (quorvex-cli: ...), not a message of the device code.
  virtual void Note(const std::string& port, std::string_view text) = 0;
  virtual void Beep() = 0;
  // The ports of `ports`: their names, or with `identity` their USB adapters too.
  virtual void Ports(const std::vector<PortIdentity>& ports, bool identity) = 0;
  // A command has ended on a port (or without one); called in the order the ports were
  // given, once every run has ended.
  virtual void Result(const RunRecord& record) = 0;
};

// Text for people: log lines on stdout, messages on stderr as CAPTION: TEXT. With several
// `ports` (their names, in the order given) every line starts with the port's name and ": ",
// each transfer keeps a progress row of its own, in that order, and the results end with one
// summary line per port on stderr.
std::unique_ptr<Output> MakeTextOutput(bool quiet, const std::vector<std::string>& ports);
// NDJSON events on stdout, one object a line; nothing on stderr.
std::unique_ptr<Output> MakeJsonOutput();

// The standard streams are consoles or terminals (not files, pipes or NUL).
bool StdinIsTerminal();
bool StderrIsTerminal();

}  // namespace quorvex::cli
