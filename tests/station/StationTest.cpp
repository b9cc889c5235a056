// The station's slots against simulated units put on and taken off, over real
// pseudo-terminals: each unit programmed once however long it stays, the next unit after a
// removal, one slot's failures never touching another, a stop in the middle of a unit, and a
// port that is missing or held.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AuditLog.h"
#include "FirmwareImage.h"
#include "SampleFirmware.h"
#include "SimulatedInstrument.h"
#include "Station.h"
#include "TComPort.h"
#include "TempFolder.h"

namespace quorvex::station {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::uint8_t kFinish = 0x35;

// Everything a station reports, kept for the test to look at; safe from every slot's thread.
class RecordingReport final : public Report {
 public:
  void SlotChanged(const SlotStatus& status) override {
    const std::lock_guard lock(mutex_);
    states_[status.slot].push_back(status.state);
    last_[status.slot] = status;
  }
  void SlotLog(int slot, std::string_view line) override {
    const std::lock_guard lock(mutex_);
    logs_[slot].emplace_back(line);
  }
  void SlotMessage(int, std::string_view, std::string_view) override {}
  void SlotProgress(int, int, std::size_t, std::size_t, bool) override {}
  void SlotNote(int slot, std::string_view text) override {
    const std::lock_guard lock(mutex_);
    notes_[slot].emplace_back(text);
  }
  void UnitEnded(const UnitRecord& record, const json& line) override {
    const std::lock_guard lock(mutex_);
    units_.push_back(record);
    lines_.push_back(line);
  }

  std::vector<UnitRecord> Units() const {
    const std::lock_guard lock(mutex_);
    return units_;
  }
  std::vector<SlotState> States(int slot) const {
    const std::lock_guard lock(mutex_);
    const auto it = states_.find(slot);
    return it == states_.end() ? std::vector<SlotState>{} : it->second;
  }
  std::vector<std::string> Notes(int slot) const {
    const std::lock_guard lock(mutex_);
    const auto it = notes_.find(slot);
    return it == notes_.end() ? std::vector<std::string>{} : it->second;
  }
  SlotState StateOf(int slot) const {
    const std::lock_guard lock(mutex_);
    const auto it = last_.find(slot);
    return it == last_.end() ? SlotState::Waiting : it->second.state;
  }

 private:
  mutable std::mutex mutex_;
  std::map<int, std::vector<SlotState>> states_;
  std::map<int, SlotStatus> last_;
  std::map<int, std::vector<std::string>> logs_;
  std::map<int, std::vector<std::string>> notes_;
  std::vector<UnitRecord> units_;
  std::vector<json> lines_;
};

// A slot with units coming and going: present for `present`, then gone for `absent`.
std::unique_ptr<sim::SimulatedInstrument> Units(std::chrono::milliseconds present,
                                                std::chrono::milliseconds absent,
                                                std::vector<std::string> faults = {},
                                                bool pace = false) {
  sim::Options options;
  options.pace = pace;
  options.faults = std::move(faults);
  options.comeAndGo = sim::ComeAndGo{present, absent};
  auto instrument = std::make_unique<sim::SimulatedInstrument>(options);
  std::string error;
  EXPECT_TRUE(instrument->Start(&error)) << error;
  return instrument;
}

// How many units of the slot finished a transfer: one finish request each.
std::map<int, int> FinishesPerUnit(const sim::SimulatedInstrument& slot) {
  std::map<int, int> finishes;
  for (const sim::RequestRecord& r : slot.Requests()) {
    if (r.code == kFinish) ++finishes[r.unit];
  }
  return finishes;
}

class StationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    job_.path = (folder_.Path() / "job.toml").string();
    job_.overwrite = false;
    AddSector(5, "boot.fls", "BOOT");
  }

  void AddSector(int number, const std::string& file, const std::string& name) {
    const std::string path = (folder_.Path() / file).string();
    ASSERT_TRUE(WriteFirmwareFile(path, SampleImage(name, false, static_cast<unsigned>(number))));
    job_.sectors.push_back({number, path, "", name, 0});
  }

  // Probes ten times as often as a station on a bench: the same logic, in less time.
  static StationOptions Quick(int units) {
    StationOptions options;
    options.units = units;
    options.probeEvery = 100ms;
    options.probeWait = 100ms;
    return options;
  }

  test::TempFolder folder_;
  Job job_;
  RecordingReport report_;
};

TEST_F(StationTest, EachUnitIsProgrammedOnceHoweverLongItStays) {
  // A unit stays three times as long as its run: it is programmed once, then the slot waits
  // for it to go, and programs the next one.
  const auto slot = Units(5000ms, 400ms);
  Station station(job_, {{"sim1", slot->PortPath()}}, report_, Quick(2));
  station.Start();
  ASSERT_TRUE(station.WaitUntil(Clock::now() + 40s));
  EXPECT_EQ(station.Wait(), 0);

  const auto units = report_.Units();
  ASSERT_EQ(units.size(), 2u);
  for (std::size_t i = 0; i < units.size(); ++i) {
    EXPECT_EQ(units[i].unit, static_cast<int>(i) + 1);
    EXPECT_EQ(units[i].exit, 0) << units[i].ended;
    ASSERT_EQ(units[i].sectors.size(), 1u);
    EXPECT_EQ(units[i].sectors[0].sector, 5);
  }
  EXPECT_EQ(FinishesPerUnit(*slot), (std::map<int, int>{{1, 1}, {2, 1}}));
  const std::vector<SlotState> round = {SlotState::Waiting, SlotState::Programming,
                                        SlotState::Passed, SlotState::Removed};
  const auto states = report_.States(1);
  ASSERT_GE(states.size(), round.size() + 2);
  EXPECT_TRUE(std::equal(round.begin(), round.end(), states.begin()));
  EXPECT_EQ(station.UnitCounts().passed, 2);
}

TEST_F(StationTest, EverySectorOfTheJobInOrderAndTheFirstFailureEndsTheUnit) {
  AddSector(2, "app.fls", "APP");
  AddSector(9, "data.fls", "DATA");
  // Sector 2 of every unit fails its checksum: sector 9 is never touched.
  const auto slot = Units(8000ms, 300ms, {"checksum-mismatch"});
  Station station(job_, {{"sim1", slot->PortPath()}}, report_, Quick(1));
  station.Start();
  ASSERT_TRUE(station.WaitUntil(Clock::now() + 30s));
  EXPECT_EQ(station.Wait(), 1);
  const auto units = report_.Units();
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0].exit, 1);
  ASSERT_EQ(units[0].sectors.size(), 1u) << "the first failing sector ends the unit";
  EXPECT_EQ(units[0].sectors[0].sector, 5);
  EXPECT_EQ(units[0].sectors[0].exit, 1);
  EXPECT_FALSE(units[0].ended.empty());
  EXPECT_EQ(report_.StateOf(1), SlotState::Failed);
}

TEST_F(StationTest, AFailingSlotLeavesTheOthersAlone) {
  const auto good = Units(4000ms, 300ms);
  const auto bad = Units(4000ms, 300ms, {"checksum-mismatch"});
  const auto silent = Units(4000ms, 300ms, {"silent"});
  Station station(
      job_, {{"sim1", good->PortPath()}, {"sim2", bad->PortPath()}, {"sim3", silent->PortPath()}},
      report_, Quick(4));
  station.Start();
  ASSERT_TRUE(station.WaitUntil(Clock::now() + 40s));
  EXPECT_EQ(station.Wait(), 1);
  std::map<int, std::vector<int>> exits;
  for (const UnitRecord& unit : report_.Units()) exits[unit.slot].push_back(unit.exit);
  for (const int exit : exits[1]) EXPECT_EQ(exit, 0);
  for (const int exit : exits[2]) EXPECT_EQ(exit, 1);
  EXPECT_GE(exits[1].size(), 2u) << "the good slot went on while the bad one failed";
  EXPECT_TRUE(exits[3].empty()) << "a loader that never answers is no unit";
  EXPECT_TRUE(report_.Notes(3).empty()) << "probes left unanswered are no news";
}

TEST_F(StationTest, AUnitPulledOutMidRunFailsAndTheNextOneIsProgrammed) {
  // Each unit is on the slot for 1.2 s: less than a run needs (the information block alone
  // takes 0.64 s, the pause before the finish 1 s).
  const auto slot = Units(1200ms, 500ms);
  Station station(job_, {{"sim1", slot->PortPath()}}, report_, Quick(2));
  station.Start();
  ASSERT_TRUE(station.WaitUntil(Clock::now() + 60s));
  EXPECT_EQ(station.Wait(), 1);
  const auto units = report_.Units();
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0].exit, 1);
  EXPECT_EQ(units[1].exit, 1);
  EXPECT_EQ(units[1].unit, 2);
  const auto states = report_.States(1);
  EXPECT_NE(std::find(states.begin(), states.end(), SlotState::Removed), states.end());
}

TEST_F(StationTest, AStopEndsTheUnitBeingProgrammedAtItsNextStep) {
  // Paced: the transfer alone takes ten seconds.
  const auto slot = Units(60000ms, 300ms, {}, true);
  Station station(job_, {{"sim1", slot->PortPath()}}, report_, Quick(0));
  station.Start();
  const auto deadline = Clock::now() + 20s;
  while (report_.StateOf(1) != SlotState::Programming && Clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  std::this_thread::sleep_for(2500ms);  // into the transfer
  const auto stopped = Clock::now();
  station.Stop();
  EXPECT_EQ(station.Wait(), 3);
  EXPECT_LT(Clock::now() - stopped, 4s) << "a stop is honoured at the next step";
  const auto units = report_.Units();
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0].exit, 3);
  EXPECT_NE(std::find(units[0].log.begin(), units[0].log.end(), "Стоп"), units[0].log.end());
}

TEST_F(StationTest, AnIdleStationStopsAtOnceAndCutsNoUnitShort) {
  Station station(job_, {{"missing", (folder_.Path() / "no-such-port").string()}}, report_,
                  Quick(0));
  station.Start();
  std::this_thread::sleep_for(300ms);
  station.Stop();
  EXPECT_EQ(station.Wait(), 0);
  EXPECT_TRUE(report_.Units().empty());
}

TEST_F(StationTest, AMissingPortWaitsQuietlyAndAHeldOneIsSaidOnce) {
  const auto slot = Units(3000ms, 300ms);
  const auto held = Units(3000ms, 300ms);
  TComPort holder([](std::string_view) {});  // another program has the port
  ASSERT_TRUE(holder.Open(held->PortPath()));
  Station station(job_,
                  {{"sim1", slot->PortPath()},
                   {"missing", (folder_.Path() / "ttyUSB9").string()},
                   {"held", held->PortPath()}},
                  report_, Quick(2));
  station.Start();
  ASSERT_TRUE(station.WaitUntil(Clock::now() + 30s));
  EXPECT_EQ(station.Wait(), 0);
  EXPECT_TRUE(report_.Notes(2).empty());
  EXPECT_EQ(report_.Notes(3).size(), 1u);
  for (const UnitRecord& unit : report_.Units()) EXPECT_EQ(unit.slot, 1);
}

TEST_F(StationTest, EveryRecordIsWrittenOnceToTheAuditFile) {
  const auto one = Units(3000ms, 300ms);
  const auto two = Units(3000ms, 300ms);
  const fs::path audit = folder_.Path() / "audit.jsonl";
  std::string error;
  auto file = OpenAppendFile(audit.string(), &error);
  ASSERT_TRUE(file) << error;
  StationOptions options = Quick(3);
  options.audit = std::make_shared<AuditLog>(std::move(file));
  Station station(job_, {{"sim1", one->PortPath()}, {"sim2", two->PortPath()}}, report_, options);
  station.Start();
  ASSERT_TRUE(station.WaitUntil(Clock::now() + 30s));
  EXPECT_EQ(station.Wait(), 0);
  std::ifstream in(audit);
  std::vector<int> units;
  for (std::string line; std::getline(in, line);) {
    const json record = json::parse(line);
    EXPECT_EQ(record["command"], "station");
    EXPECT_EQ(record["job"], job_.path);
    EXPECT_EQ(record["exit"], 0);
    EXPECT_EQ(record["sectors"].size(), 1u);
    EXPECT_EQ(record["sectors"][0]["sector"], 5);
    units.push_back(record["unit"].get<int>());
  }
  std::sort(units.begin(), units.end());
  EXPECT_EQ(units, (std::vector<int>{1, 2, 3}));
}

TEST_F(StationTest, TheHookGetsEachRecordAndAFailingHookChangesNoVerdict) {
  // The hook keeps what it was given in a file of its own per unit, then fails.
  const fs::path kept = folder_.Path() / "hook";
  fs::create_directory(kept);
  job_.onResult = {
      "/bin/sh", "-c",
      "cat > \"$0/unit-$QUORVEX_UNIT\"; "
      "echo \"$QUORVEX_SLOT $QUORVEX_PORT $QUORVEX_EXIT\" >> \"$0/unit-$QUORVEX_UNIT\"; "
      "echo 'lamp not found' >&2; exit 5",
      kept.string()};
  const auto slot = Units(3000ms, 300ms);
  Station station(job_, {{"sim1", slot->PortPath()}}, report_, Quick(2));
  station.Start();
  ASSERT_TRUE(station.WaitUntil(Clock::now() + 30s));
  EXPECT_EQ(station.Wait(), 0) << "the hook's failure is no unit's failure";
  for (const int unit : {1, 2}) {
    std::ifstream in(kept / ("unit-" + std::to_string(unit)));
    std::string record;
    std::string variables;
    ASSERT_TRUE(std::getline(in, record)) << "unit " << unit;
    std::getline(in, variables);
    EXPECT_EQ(json::parse(record)["unit"], unit);
    EXPECT_EQ(variables, "1 sim1 0");
  }
  const auto notes = report_.Notes(1);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0], "on-result: exit 5: lamp not found");
}

}  // namespace
}  // namespace quorvex::station
