// The station for people: rows of slots on a terminal, or one line per event for a journal.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "Columns.h"
#include "Output.h"
#include "ProgressRows.h"
#include "StandardStreams.h"
#include "StationOutput.h"
#include "Terminal.h"

namespace quorvex::cli {
namespace {

using Clock = std::chrono::steady_clock;
using station::SlotState;
using station::SlotStatus;

// What a terminal that does not tell its size most likely has.
constexpr TerminalSize kUsualSize{80, 24};
// Progress redraws at most this often; a change of state or a printed line redraws at once.
constexpr auto kProgressEvery = std::chrono::milliseconds(100);

const std::string kWaiting = "ждёт прибор";
const std::string kPassed = "ГОТОВО";
const std::string kFailed = "БРАК";
const std::string kTakeOff = " — снимите прибор";

std::string Padded(std::string_view text, std::size_t columns) {
  const std::string kept = CutToColumns(text, columns);
  return kept + std::string(columns - std::min(columns, DisplayColumns(kept)), ' ');
}

// A cause as one line: a row or a verdict line must not break.
std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return line;
}

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

// The job's file name, without its folder.
std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct SlotView {
  std::string name;  // the port as the rows show it
  SlotStatus status;
  bool transferring = false;  // the current sector's image is being sent, or has been
  int percent = 0;
  std::size_t bytes = 0;
  std::size_t total = 0;
  Clock::time_point transferStart{};
};

class StationText final : public StationOutput {
 public:
  StationText(bool quiet, const std::string& job, const std::vector<std::string>& slots)
      : job_(FileNameOf(job)),
        onTerminal_(!quiet && StderrIsTerminal()),
        escapes_(onTerminal_ ? std::make_unique<StderrEscapes>() : nullptr),
        rows_(escapes_ && escapes_->On()) {
    for (std::size_t i = 0; i < slots.size(); ++i) {
      SlotView view;
      view.name = ShortPortName(slots[i]);
      view.status.slot = static_cast<int>(i) + 1;
      view.status.port = slots[i];
      slots_.push_back(std::move(view));
    }
    const std::lock_guard lock(mutex_);
    Draw();
  }

  void SlotChanged(const SlotStatus& status) override {
    const std::lock_guard lock(mutex_);
    SlotView* view = Slot(status.slot);
    if (view == nullptr) return;
    if (status.state != SlotState::Programming || status.sector != view->status.sector ||
        status.unit != view->status.unit) {
      view->transferring = false;
    }
    view->status = status;
    Draw();
  }

  void SlotLog(int slot, std::string_view line) override {
    Print(StandardStream::Out, Prefixed(Prefix(slot), line) + "\n");
  }

  void SlotMessage(int slot, std::string_view caption, std::string_view text) override {
    Print(StandardStream::Err,
          Prefixed(Prefix(slot), std::string(caption) + ": " + std::string(text)) + "\n");
  }

  void SlotProgress(int slot, int percent, std::size_t bytes, std::size_t total,
                    bool end) override {
    if (!rows_) return;
    const std::lock_guard lock(mutex_);
    SlotView* view = Slot(slot);
    if (view == nullptr) return;
    const auto now = Clock::now();
    if (!view->transferring) {
      view->transferring = true;
      view->transferStart = now;
    }
    view->percent = percent;
    view->bytes = bytes;
    view->total = total;
    if (end || now - lastDraw_ >= kProgressEvery) Draw();
  }

  void SlotNote(int slot, std::string_view text) override {
    Print(StandardStream::Err, Prefix(slot) + "quorvex-cli: " + std::string(text) + "\n");
  }

  void UnitEnded(const station::UnitRecord& record, const json&) override {
    std::string line = Prefix(record.slot) + "unit " + std::to_string(record.unit) + " ";
    line += record.exit == 0 ? kPassed : kFailed + ": " + OneLine(record.ended);
    line += ", " + SecondsText(record.seconds) + "\n";
    const std::lock_guard lock(mutex_);
    if (record.exit == 0) {
      ++counts_.passed;
    } else {
      ++counts_.failed;
    }
    PrintLocked(StandardStream::Out, line);
  }

  void Ended(int exit, const station::Counts& counts, double seconds) override {
    const std::lock_guard lock(mutex_);
    if (rows_) Wipe();
    rowsGone_ = true;  // the summary takes their place, and nothing draws them again
    WriteStandard(StandardStream::Err, StationCountsText(job_, counts) + "  exit " +
                                           std::to_string(exit) + ", " + SecondsText(seconds) +
                                           "\n");
  }

 private:
  SlotView* Slot(int slot) {
    if (slot < 1 || static_cast<std::size_t>(slot) > slots_.size()) return nullptr;
    return &slots_[static_cast<std::size_t>(slot) - 1];
  }

  [[nodiscard]] std::string Prefix(int slot) const {
    if (slot < 1 || static_cast<std::size_t>(slot) > slots_.size()) return {};
    return std::to_string(slot) + " " + slots_[static_cast<std::size_t>(slot) - 1].name + ": ";
  }

  void Print(StandardStream stream, const std::string& text) {
    const std::lock_guard lock(mutex_);
    PrintLocked(stream, text);
  }

  // A line above the rows: they are taken off, the line written, and they come back under it.
  void PrintLocked(StandardStream stream, const std::string& text) {
    if (rows_) Wipe();
    WriteStandard(stream, text);
    Draw();
  }

  void Wipe() {
    if (shownLines_ == 0) return;
    WriteStandard(StandardStream::Err, "\033[" + std::to_string(shownLines_) + "A\r\033[J");
    shownLines_ = 0;
  }

  // The header and a row per slot, in one write, over what was drawn the time before. Rows
  // that would reach above the window's top could not be redrawn: the last line says how many
  // did not fit instead.
  void Draw() {
    if (!rows_ || rowsGone_ || !StandardStreamWorks(StandardStream::Err)) return;
    lastDraw_ = Clock::now();
    const TerminalSize size = StderrSize();
    const std::size_t columns = size.columns > 0 ? size.columns : kUsualSize.columns;
    const std::size_t lines = size.lines > 0 ? size.lines : kUsualSize.lines;
    const std::size_t room = columns > 1 ? columns - 1 : 0;

    std::vector<std::string> text{CutToColumns(StationCountsText(job_, counts_), room)};
    const std::size_t fit = lines > 3 ? lines - 2 : 1;  // rows under the header
    std::size_t shown = slots_.size();
    std::size_t hidden = 0;
    if (shown > fit) {
      shown = fit > 1 ? fit - 1 : 0;
      hidden = slots_.size() - shown;
    }
    // The labels line up: "1 ttyUSB0", "12 ttyACM3", padded to the widest, whose port gets a
    // third of the width, or 20 columns where that is at most half of it.
    const std::size_t most = std::max(room / 3, std::min<std::size_t>(20, room / 2));
    std::vector<std::string> labels;
    std::size_t labelColumns = 0;
    for (std::size_t i = 0; i < shown; ++i) {
      const std::string number = std::to_string(i + 1) + " ";
      const std::size_t numberColumns = number.size();
      std::string label =
          number + KeepEnd(slots_[i].name, most > numberColumns + 1 ? most - numberColumns : 1);
      labelColumns = std::max(labelColumns, DisplayColumns(label));
      labels.push_back(std::move(label));
    }
    const auto now = Clock::now();
    for (std::size_t i = 0; i < shown; ++i) {
      const SlotView& view = slots_[i];
      const double seconds = std::chrono::duration<double>(now - view.transferStart).count();
      text.push_back(StationRowText(Padded(labels[i], labelColumns), view.status, view.percent,
                                    view.bytes, view.total, seconds, view.transferring, columns));
    }
    if (hidden > 0) text.push_back(CutToColumns("... " + std::to_string(hidden) + " more", room));

    std::string out;
    if (shownLines_ > 0) out += "\033[" + std::to_string(shownLines_) + "A";
    out += "\r";
    for (const std::string& line : text) out += line + "\033[K\n";
    out += "\033[J";  // lines drawn last time and not now
    shownLines_ = text.size();
    WriteStandard(StandardStream::Err, out);
  }

  std::mutex mutex_;
  std::string job_;
  bool onTerminal_;
  std::unique_ptr<StderrEscapes> escapes_;  // only on a terminal: it may change its mode
  bool rows_;                               // a terminal that moves the cursor, without -q
  bool rowsGone_ = false;
  std::vector<SlotView> slots_;
  station::Counts counts_;
  std::size_t shownLines_ = 0;
  Clock::time_point lastDraw_{};
};

}  // namespace

std::string StationCountsText(const std::string& job, const station::Counts& counts) {
  return job + "  годных " + std::to_string(counts.passed) + "  брак " +
         std::to_string(counts.failed) + "  всего " + std::to_string(counts.passed + counts.failed);
}

std::string StationRowText(std::string_view label, const SlotStatus& status, int percent,
                           std::size_t bytes, std::size_t total, double seconds, bool transferring,
                           std::size_t columns) {
  const std::size_t room = columns > 1 ? columns - 1 : 0;
  const std::string head = std::string(label) + "  ";
  switch (status.state) {
    case SlotState::Waiting:
    case SlotState::Removed:
      return CutToColumns(head + kWaiting, room);
    case SlotState::Programming: {
      const std::string sector = "сектор " + std::to_string(status.sector) + " (" +
                                 std::to_string(status.sectorIndex) + " из " +
                                 std::to_string(status.sectors) + ")";
      const std::size_t headColumns = DisplayColumns(head);
      if (!transferring || headColumns >= room) return CutToColumns(head + sector, room);
      return head + ProgressRowText(sector, DisplayColumns(sector), percent, bytes, total, seconds,
                                    columns - headColumns);
    }
    case SlotState::Passed:
      return CutToColumns(head + kPassed + kTakeOff, room);
    case SlotState::Failed: {
      // What ended the unit is cut before the instruction to take it off.
      const std::string verdict = head + kFailed + ": ";
      const std::string cause = OneLine(status.cause);
      std::string whole = verdict + cause + kTakeOff;
      if (DisplayColumns(whole) <= room) return whole;
      const std::size_t fixed = DisplayColumns(verdict) + DisplayColumns(kTakeOff) + 1;  // "…"
      if (fixed + 4 <= room) return verdict + CutToColumns(cause, room - fixed) + "…" + kTakeOff;
      return CutToColumns(head + kFailed + kTakeOff, room);
    }
  }
  return CutToColumns(head, room);
}

std::unique_ptr<StationOutput> MakeStationText(bool quiet, const std::string& job,
                                               const std::vector<std::string>& slots) {
  return std::make_unique<StationText>(quiet, job, slots);
}

}  // namespace quorvex::cli
