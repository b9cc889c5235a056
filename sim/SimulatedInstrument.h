#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::sim {

inline constexpr int kSectors = 64;
inline constexpr std::size_t kSectorBytes = 65'536;
inline constexpr std::size_t kBlockBytes = 64;

// Units put on a slot and taken off it, over and over: a unit answers for `present` with a fresh
// blank flash, then nothing answers for `absent`, then the next unit is present. The slot starts
// with unit 1 present. The pseudo-terminal stays open throughout (the adapter stays plugged in).
struct ComeAndGo {
  std::chrono::milliseconds present{0};
  std::chrono::milliseconds absent{0};
};

inline constexpr std::chrono::milliseconds kShortestUnitPeriod{1};
inline constexpr std::chrono::milliseconds kLongestUnitPeriod{3'600'000};  // one hour

// "PRESENT_MS,ABSENT_MS", each kShortestUnitPeriod..kLongestUnitPeriod in whole milliseconds.
// False with *error set when it is not that.
bool ParseComeAndGo(std::string_view text, ComeAndGo* periods, std::string* error);

struct Options {
  bool pace = false;                // hold every byte to 62,500-baud line time (160 us)
  std::vector<std::string> faults;  // "silent", "version=45B4", "short=33", ... (see --help)
  std::string statePath;            // keep flash and blocks in this file across runs; empty: memory
  std::string linkPath;             // make this path a symbolic link to the pseudo-terminal
  std::optional<ComeAndGo> comeAndGo;  // units come and go; none: one instrument, always there
};

// Why these options cannot go together or are out of range (units coming and going with a state
// file, a period out of bounds), or "" when they can.
std::string OptionsConflict(const Options& options);

// One request the loader recognised, in arrival order.
struct RequestRecord {
  std::uint8_t code = 0;              // 0x02, 0x30, 0x31, 0x32, 0x33, 0x35
  std::vector<std::uint8_t> payload;  // the whole frame payload, code included
  int unit = 1;                       // the unit that recognised it (see UnitsSoFar())
  // When its last byte arrived (at line time with pacing), and how long that was after its unit
  // was put on the slot (after Start() for the first unit, and without units coming and going).
  std::chrono::steady_clock::time_point at{};
  std::chrono::steady_clock::duration afterArrival{};
};

// A simulated instrument: a loader that answers on the master side of a pseudo-terminal,
// served by a thread of its own, so tests and `--simulate` run it inside the process.
class SimulatedInstrument {
 public:
  explicit SimulatedInstrument(Options options = {});
  ~SimulatedInstrument();  // stops serving and closes the pseudo-terminal
  SimulatedInstrument(const SimulatedInstrument&) = delete;
  SimulatedInstrument& operator=(const SimulatedInstrument&) = delete;

  // Opens the pseudo-terminal and starts serving. False with *error set on failure
  // (a fault that does not parse, options in conflict, no pseudo-terminal, an unreadable state
  // file).
  bool Start(std::string* error);
  void Stop();
  // The path of the pseudo-terminal a host opens, e.g. "/dev/pts/3".
  [[nodiscard]] std::string PortPath() const;

  // Inspection and set-up for tests; safe to call while serving. With units coming and going,
  // flash, blocks, Received() and BlocksReceived() are those of the unit present, or while the
  // slot is empty of the unit that left last; Requests() holds every unit's.
  [[nodiscard]] std::vector<std::uint8_t> Flash(int sector) const;  // sector 1..64
  [[nodiscard]] std::array<std::uint8_t, kBlockBytes> Block(int sector) const;
  void SetBlock(int sector, const std::array<std::uint8_t, kBlockBytes>& block);
  [[nodiscard]] std::vector<std::uint8_t> Received() const;  // every byte the host sent
  [[nodiscard]] std::vector<RequestRecord> Requests() const;
  [[nodiscard]] int BlocksReceived() const;  // image blocks of the current/last transfer
  void ClearLog();                           // forget Received() and Requests()

  // Units that were present so far, the one present now included (1 from Start() on, without
  // units coming and going).
  [[nodiscard]] int UnitsSoFar() const;
  // Whether a unit is on the slot now (always, without units coming and going).
  [[nodiscard]] bool UnitPresent() const;

  // The hangup-after fault closed the pseudo-terminal and serving has ended.
  [[nodiscard]] bool HungUp() const;
  // Called on the serving thread right after that hang-up; it must not call Stop(). Set it
  // before Start().
  void SetHangupHandler(std::function<void()> handler);
  // The last failure while serving or stopping (the state file could not be written), or "".
  [[nodiscard]] std::string LastError() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quorvex::sim
