#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AuditLog.h"
#include "Job.h"
#include "Report.h"

namespace quorvex::station {

// A slot as the station was given it: what the output calls it and how its port is found.
struct SlotSpec {
  std::string name;  // ttyUSB0, usb-path:1-1.2, usb:A10K3Z9Q, sim1
  std::string spec;  // any -p form; a path for a simulated slot
};

// Where a slot's port is right now: the path that opens it and its adapter's serial number.
struct SlotPort {
  std::string path;
  std::optional<std::string> usbSerial;
};

// Finds a slot's port: nothing while it is not there (an adapter not plugged in). Asked
// again every time the slot waits for its port.
using PortFinder = std::function<std::optional<SlotPort>(const std::string& spec)>;

// The station's own finder: a name or path as it is; usb:SERIAL and usb-path:LOC through the
// identities of the ports present, a single match only.
std::optional<SlotPort> FindSlotPort(const std::string& spec);

// Why these slots cannot make a station (none, one named twice in any two forms, an empty
// usb: or usb-path:), or "" when they can.
std::string SlotSpecProblem(const std::vector<SlotSpec>& slots);

struct StationOptions {
  // Stop once this many units have been started and have ended; 0: run until stopped.
  int units = 0;
  std::chrono::milliseconds probeEvery{500};  // a waiting slot's probes, and its port's tries
  std::chrono::milliseconds probeWait{500};   // how long a probe waits for the loader
  // Probes in a row left unanswered after which a unit on its verdict counts as taken away.
  int goneAfter = 2;
  std::shared_ptr<AuditLog> audit;  // none: no audit record
  PortFinder findPort = FindSlotPort;
};

// How many units have ended, and how.
struct Counts {
  int passed = 0;
  int failed = 0;  // every end but a pass: failed, declined, stopped
};

// Every slot on a thread of its own, each programming every unit put on it once, from the
// job, and waiting for it to be taken away before the next; one slot never slows another.
class Station {
 public:
  Station(Job job, std::vector<SlotSpec> slots, Report& report, StationOptions options = {});
  ~Station();  // stops and joins every slot
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  void Start();
  // Asks every slot to stop: a unit being programmed stops at its next step ("Стоп", exit 3
  // in its record). Safe from any thread; returns at once.
  void Stop();
  // Waits until the station has ended: stopped, or the units of StationOptions::units done.
  // Returns the exit code: with a count of units, 0 when every unit passed, else 1; after a
  // stop, 3 when a unit was cut short, else 0.
  int Wait();
  // Waits at most until `deadline`; true when the station has ended.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);

  [[nodiscard]] Counts UnitCounts() const;
  [[nodiscard]] const Job& job() const { return job_; }

 private:
  class Slot;
  friend class Slot;

  using Clock = std::chrono::steady_clock;

  // A slot asks for the next unit's number; nothing when the count of units is reached.
  std::optional<int> TakeUnit();
  // Writes the unit's record and reports it; a record that cannot be written fails the unit.
  // Returns the record's line.
  json UnitEnded(UnitRecord& record);
  [[nodiscard]] bool Stopping() const { return stop_.load(); }
  // Sleeps until the deadline, or less when the station stops.
  void SleepUntil(Clock::time_point deadline);
  [[nodiscard]] bool EndedLocked() const;

  Job job_;
  Report& report_;
  StationOptions options_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int started_ = 0;  // units taken
  int ended_ = 0;    // units ended
  Counts counts_;
  bool cutShort_ = false;   // a unit ended stopped
  bool stopAsked_ = false;  // Stop() was called
};

}  // namespace quorvex::station
