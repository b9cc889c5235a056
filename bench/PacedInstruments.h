#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ChildProcess.h"

namespace quorvex::bench {

// The paced instruments of a run: quorvex-sim --pace (every byte held to 62,500-baud line
// time), each on a pseudo-terminal reached through a link of its own. Stopped by StopAll or
// the destructor; Fail's way out kills them with every other child.
class PacedInstruments {
 public:
  explicit PacedInstruments(std::filesystem::path simulator) : simulator_(std::move(simulator)) {}
  ~PacedInstruments() { StopAll(); }
  PacedInstruments(const PacedInstruments&) = delete;
  PacedInstruments& operator=(const PacedInstruments&) = delete;

  // Starts one at `link` once it has printed its pseudo-terminal; the link's path, the port
  // a host opens. `more` goes on its command line (--come-and-go, --fault, --record). Fails the
  // benchmark when it cannot.
  std::string Start(const std::filesystem::path& link, const std::vector<std::string>& more = {});
  // Ends every one and waits for it, so that what each writes at its end (--record) is there.
  void StopAll();

 private:
  std::filesystem::path simulator_;
  std::vector<std::unique_ptr<process::ChildProcess>> running_;
};

}  // namespace quorvex::bench
