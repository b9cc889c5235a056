// The station for scripts: one JSON object a line on stdout, the events of the other commands
// with the slot's number beside its port.
#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <map>
#include <mutex>

#include "StandardStreams.h"
#include "StationOutput.h"

namespace quorvex::cli {
namespace {

using Clock = std::chrono::steady_clock;
using station::SlotState;

class StationJson final : public StationOutput {
 public:
  explicit StationJson(std::vector<std::string> slots) : slots_(std::move(slots)) {}

  void SlotChanged(const station::SlotStatus& s) override {
    json fields = {{"state", station::SlotStateName(s.state)}};
    switch (s.state) {
      case SlotState::Waiting:
        break;
      case SlotState::Programming:
        fields["unit"] = s.unit;
        fields["sector"] = s.sector;
        break;
      case SlotState::Passed:
      case SlotState::Failed:
        fields["unit"] = s.unit;
        fields["exit"] = s.exit;
        if (s.state == SlotState::Failed) fields["cause"] = s.cause;
        break;
      case SlotState::Removed:
        fields["unit"] = s.unit;
        break;
    }
    Emit(Event("slot", s.slot, fields));
  }

  void SlotLog(int slot, std::string_view line) override {
    Emit(Event("log", slot, {{"text", line}}));
  }

  void SlotMessage(int slot, std::string_view caption, std::string_view text) override {
    Emit(Event("message", slot, {{"caption", caption}, {"text", text}}));
  }

  void SlotProgress(int slot, int percent, std::size_t bytes, std::size_t total,
                    bool end) override {
    {
      // At most 10 events a second per slot, and always the one at the end.
      const std::lock_guard lock(mutex_);
      const auto now = Clock::now();
      auto& last = lastProgress_[slot];
      if (!end && last != Clock::time_point{} && now - last < std::chrono::milliseconds(100)) {
        return;
      }
      last = end ? Clock::time_point{} : now;
    }
    Emit(Event("progress", slot, {{"percent", percent}, {"bytes", bytes}, {"total", total}}));
  }

  void SlotNote(int slot, std::string_view text) override {
    Emit(Event("message", slot, {{"caption", "quorvex-cli"}, {"text", text}}));
  }

  // The record as the audit line holds it, the event's name first.
  void UnitEnded(const station::UnitRecord&, const json& line) override {
    json event = {{"event", "unit"}};
    event.update(line);
    Emit(event);
  }

  void Ended(int exit, const station::Counts& counts, double seconds) override {
    Emit({{"event", "result"},
          {"command", "station"},
          {"exit", exit},
          {"seconds", std::round(seconds * 1000) / 1000},
          {"passed", counts.passed},
          {"failed", counts.failed}});
  }

 private:
  [[nodiscard]] json Event(const char* event, int slot, const json& fields) const {
    json object = {{"event", event}, {"slot", slot}};
    if (slot >= 1 && static_cast<std::size_t>(slot) <= slots_.size()) {
      object["port"] = slots_[static_cast<std::size_t>(slot) - 1];
    }
    object.update(fields);
    return object;
  }

  static void Emit(const json& event) {
    // Bytes that are not UTF-8 (a name the code page left undefined) are replaced, not fatal.
    WriteStandard(StandardStream::Out,
                  event.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
  }

  std::vector<std::string> slots_;
  std::mutex mutex_;
  std::map<int, Clock::time_point> lastProgress_;
};

}  // namespace

std::unique_ptr<StationOutput> MakeStationJson(const std::vector<std::string>& slots) {
  return std::make_unique<StationJson>(slots);
}

}  // namespace quorvex::cli
