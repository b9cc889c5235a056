#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#ifdef QUORVEX_HAVE_SIMULATOR
#include "SimulatedInstrument.h"
#endif

namespace quorvex::cli {

// The simulated instrument behind --simulate, where the platform has pseudo-terminals.
class Simulator {
 public:
  // Starts it; false with *error set when it cannot run here.
  bool Start(std::string* error) {
#ifdef QUORVEX_HAVE_SIMULATOR
    instrument_ = std::make_unique<sim::SimulatedInstrument>();
    return instrument_->Start(error);
#else
    *error = "the simulated instrument needs pseudo-terminals, which this system lacks";
    return false;
#endif
  }
  // Starts it as a slot of a station: units put on it and taken off again, each present for
  // `present`, then none for `absent`, every byte paced as on a real line.
  bool StartSlot(std::chrono::milliseconds present, std::chrono::milliseconds absent,
                 std::string* error) {
#ifdef QUORVEX_HAVE_SIMULATOR
    sim::Options options;
    options.pace = true;
    options.comeAndGo = sim::ComeAndGo{present, absent};
    instrument_ = std::make_unique<sim::SimulatedInstrument>(std::move(options));
    return instrument_->Start(error);
#else
    (void)present;
    (void)absent;
    *error = "the simulated instrument needs pseudo-terminals, which this system lacks";
    return false;
#endif
  }
  [[nodiscard]] std::string PortPath() const {
#ifdef QUORVEX_HAVE_SIMULATOR
    return instrument_ ? instrument_->PortPath() : std::string();
#else
    return {};
#endif
  }

 private:
#ifdef QUORVEX_HAVE_SIMULATOR
  std::unique_ptr<sim::SimulatedInstrument> instrument_;
#endif
};

// What the program says when the simulated instrument did not start, with Start's reason.
inline std::string CannotStart(const std::string& error) {
  return "cannot start the simulated instrument: " + error;
}

}  // namespace quorvex::cli
