// The output for people: what a terminal shows, for one port or several.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>

#include "Answer.h"
#include "Columns.h"
#include "Output.h"
#include "ProgressBar.h"
#include "ProgressRows.h"
#include "StandardStreams.h"
#include "Terminal.h"

namespace quorvex::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Every line goes through the one writer that gives up a stream that cannot be written.
void Put(std::FILE* stream, std::string_view text) {
  WriteStandard(stream == stdout ? StandardStream::Out : StandardStream::Err, text);
}

class TextOutput final : public Output {
 public:
  TextOutput(bool quiet, const std::vector<std::string>& ports)
      : quiet_(quiet),
        several_(ports.size() > 1),
        barOnTerminal_(!quiet && StderrIsTerminal()),
        escapes_(barOnTerminal_ ? std::make_unique<StderrEscapes>() : nullptr),
        rows_(ports, escapes_ && escapes_->On() ? ProgressRows::Style::InPlace
                                                : ProgressRows::Style::OneLine) {}

  void Log(const std::string& port, std::string_view line) override {
    const std::lock_guard lock(mutex_);
    WipeBars();
    Put(stdout, Prefix(port) + std::string(line) + "\n");
    std::fflush(stdout);
    DrawRows(true);
  }

  void Message(const std::string& port, std::string_view caption, std::string_view text) override {
    const std::lock_guard lock(mutex_);
    WipeBars();
    Put(stderr, Prefixed(Prefix(port), std::string(caption) + ": " + std::string(text)) + "\n");
    std::fflush(stderr);
    DrawRows(true);
  }

  bool Ask(const std::string& port, std::string_view caption, std::string_view text,
           bool yes) override {
    const std::lock_guard lock(mutex_);
    WipeBars();
    Put(stderr, Prefixed(Prefix(port), std::string(caption) + ": " + std::string(text)));
    // -y answers Yes; a terminal is asked when one instrument is at work; otherwise it is No.
    bool answer = yes;
    if (yes) {
      Put(stderr, " [y/N] y\n");
    } else if (several_) {
      Put(stderr, " [y/N] n (several ports are not asked; -y answers yes)\n");
    } else if (!StdinIsTerminal() || !StderrIsTerminal() ||
               !StandardStreamWorks(StandardStream::Err)) {
      // Asked only where a person sees the question and can answer it: a question written
      // into a file while the terminal waits for an answer would wait for ever.
      Put(stderr, " [y/N] n (no terminal to ask; -y answers yes)\n");
    } else {
      Put(stderr, " [y/N] ");
      std::fflush(stderr);
      std::string reply;
      if (!ReadAnswerLine(&reply)) Put(stderr, "\n");
      answer = IsYesAnswer(reply);
    }
    std::fflush(stderr);
    DrawRows(true);
    return answer;
  }

  void Progress(const std::string& port, int percent, std::size_t bytes, std::size_t total,
                bool end) override {
    if (!barOnTerminal_ || !StandardStreamWorks(StandardStream::Err)) return;
    const std::lock_guard lock(mutex_);
    if (!several_) {
      if (!bar_) {
        bar_ = std::make_unique<ProgressBar>(
            stderr, total, [] { return StderrSize().columns; }, escapes_->On());
        bar_->Start();
      }
      bar_->Update(percent, bytes);
      barEnded_ = end;  // it stays on screen until the next line wipes it
      return;
    }
    const auto start = started_.try_emplace(port, Clock::now()).first->second;
    rows_.Set(port, percent, bytes, total,
              std::chrono::duration<double>(Clock::now() - start).count());
    DrawRows(end || bytes >= total);
  }

  void Note(const std::string& port, std::string_view text) override {
    const std::lock_guard lock(mutex_);
    WipeBars();
    Put(stderr, Prefix(port) + "quorvex-cli: " + std::string(text) + "\n");
    std::fflush(stderr);
    DrawRows(true);
  }

  void Beep() override {
    if (quiet_ || !StderrIsTerminal()) return;
    const std::lock_guard lock(mutex_);
    Put(stderr, "\a");
    std::fflush(stderr);
  }

  // One port a line; with the identity, aligned columns: name, location, VID:PID, serial
  // number, manufacturer, product, blank where the port has no USB adapter. The location
  // stands beside the name: both say which port it is, the rest what is plugged in there.
  void Ports(const std::vector<PortIdentity>& ports, bool identity) override {
    std::vector<std::vector<std::string>> rows;
    for (const PortIdentity& port : ports) {
      std::vector<std::string> row{port.name};
      if (identity) {
        row.push_back(port.location);
        if (port.usb) {
          const UsbIdentity& usb = *port.usb;
          row.insert(row.end(),
                     {usb.vid + ":" + usb.pid, usb.serial, usb.manufacturer, usb.product});
        }
      }
      // Blank cells at the end would only pad the line with spaces.
      while (row.size() > 1 && row.back().empty()) row.pop_back();
      rows.push_back(std::move(row));
    }
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (widths.size() <= i) widths.push_back(0);
        widths[i] = std::max(widths[i], DisplayColumns(row[i]));
      }
    }
    const std::lock_guard lock(mutex_);
    for (const auto& row : rows) {
      std::string line;
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (i > 0) line += std::string(widths[i - 1] - DisplayColumns(row[i - 1]) + 2, ' ');
        line += row[i];
      }
      Put(stdout, line + "\n");
    }
    std::fflush(stdout);
  }

  void Result(const RunRecord& record) override {
    if (!several_) return;  // one port: exactly the single instrument's output
    const std::lock_guard lock(mutex_);
    WipeBars();
    rows_.Clear();  // the summary lines take the rows' place
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", record.seconds);
    std::string line = record.port + ": ";
    line += record.exit == 0 ? std::string("ok")
                             : "exit " + std::to_string(record.exit) + ", " + record.ended;
    Put(stderr, line + ", " + seconds + "\n");
    std::fflush(stderr);
  }

 private:
  [[nodiscard]] std::string Prefix(const std::string& port) const {
    return several_ && !port.empty() ? port + ": " : std::string();
  }

  // Takes the bars off the screen, leaving the cursor where the next line goes.
  void WipeBars() {
    if (bar_) {
      bar_->Clear();
      if (barEnded_) bar_.reset();
    }
    Put(stderr, rows_.Wipe());
    std::fflush(stderr);
  }

  // The rows under everything else, in one write; redrawn at most 20 times a second unless
  // `now` (something else was just printed, or a transfer ended).
  void DrawRows(bool now) {
    if (bar_ || !barOnTerminal_) return;
    const auto time = Clock::now();
    if (!now && rows_.Shown() && time - lastDraw_ < std::chrono::milliseconds(50)) return;
    lastDraw_ = time;
    Put(stderr, rows_.Draw(StderrSize()));
    std::fflush(stderr);
  }

  std::mutex mutex_;
  bool quiet_;
  bool several_;
  bool barOnTerminal_;
  std::unique_ptr<StderrEscapes> escapes_;  // only on a terminal: it may change its mode
  std::unique_ptr<ProgressBar> bar_;        // one port
  bool barEnded_ = false;
  ProgressRows rows_;                                 // several ports, in the order given
  std::map<std::string, Clock::time_point> started_;  // each port's transfer
  Clock::time_point lastDraw_{};
};

}  // namespace

std::unique_ptr<Output> MakeTextOutput(bool quiet, const std::vector<std::string>& ports) {
  return std::make_unique<TextOutput>(quiet, ports);
}

}  // namespace quorvex::cli
