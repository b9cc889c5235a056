#pragma once

#include <optional>
#include <string>
#include <utility>

#include "UniqueFd.h"

namespace quorvex::sim {

// The instrument's end of a pseudo-terminal. The master is non-blocking. One descriptor of the
// slave stays open for the pseudo-terminal's whole life, in raw mode: a host that closes its
// own descriptor between commands then leaves the master quiet instead of hung up, and finds the
// line raw when it opens it. That descriptor takes no lock, so a host's exclusive lock succeeds.
class PseudoTerminal {
 public:
  static std::optional<PseudoTerminal> Open(std::string* error);

  [[nodiscard]] int Master() const { return master_.Get(); }
  [[nodiscard]] const std::string& SlavePath() const { return slavePath_; }
  [[nodiscard]] bool IsOpen() const { return master_.Valid(); }
  // Closes both ends; a host holding the slave then reads end of file or EIO.
  void Close();

 private:
  UniqueFd master_;
  UniqueFd slave_;
  std::string slavePath_;
};

}  // namespace quorvex::sim
