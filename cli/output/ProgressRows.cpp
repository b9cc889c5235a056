#include "ProgressRows.h"

#include <algorithm>

#include "Columns.h"
#include "ProgressBar.h"

namespace quorvex::cli {
namespace {

// What a terminal that does not tell its size most likely has.
constexpr TerminalSize kUsualSize{80, 24};
constexpr std::size_t kWidestBar = 30;  // the single port's bar
constexpr std::size_t kNarrowestBar = 10;

std::string Padded(std::string_view text, std::size_t columns) {
  const std::string kept = KeepEnd(text, columns);
  return kept + std::string(columns - std::min(columns, DisplayColumns(kept)), ' ');
}

}  // namespace

std::string ShortPortName(std::string_view name) {
  const std::size_t slash = name.find_last_of("/\\");
  if (slash == std::string_view::npos || slash + 1 == name.size()) return std::string(name);
  return std::string(name.substr(slash + 1));
}

std::string ProgressRowText(std::string_view label, std::size_t labelColumns, int percent,
                            std::size_t bytes, std::size_t total, double seconds,
                            std::size_t columns) {
  const std::size_t room = columns > 1 ? columns - 1 : 0;
  const std::string head = Padded(label, labelColumns) + ": ";
  const std::size_t left = room - std::min(room, DisplayColumns(head));
  const ProgressFigures f = ProgressBar::Figures(percent, bytes, total, seconds);
  for (const std::string& tail : {f.percent + f.bytes + f.rate, f.percent + f.bytes, f.percent}) {
    const std::size_t brackets = 2 + tail.size();  // the figures are ASCII
    if (left >= brackets + kNarrowestBar) {
      return head + ProgressBar::Bar(percent, std::min(kWidestBar, left - brackets)) + tail;
    }
  }
  // Too narrow for a bar: the name as far as it fits beside the whole percentage, never a
  // cut one ("10" of "100%" would lie).
  const std::string figure = std::to_string(percent) + "%";
  if (room >= figure.size() + 3) {
    return Padded(label, std::min(labelColumns, room - figure.size() - 2)) + ": " + figure;
  }
  return room >= figure.size() ? figure : std::string();
}

ProgressRows::ProgressRows(const std::vector<std::string>& ports, Style style) : style_(style) {
  std::vector<std::string> labels;
  for (const std::string& port : ports) labels.push_back(ShortPortName(port));
  // Two paths ending alike (/a/slot1, /b/slot1) keep their whole names to stay apart.
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const bool alike = std::count(labels.begin(), labels.end(), labels[i]) > 1;
    rows_.push_back({ports[i], alike ? ports[i] : labels[i]});
  }
}

void ProgressRows::Set(std::string_view port, int percent, std::size_t bytes, std::size_t total,
                       double seconds) {
  for (Row& row : rows_) {
    if (row.port == port) row = {row.port, row.label, true, percent, bytes, total, seconds};
  }
}

void ProgressRows::Clear() {
  for (Row& row : rows_) row.started = false;
}

std::string ProgressRows::Draw(TerminalSize size) {
  const std::size_t columns = size.columns > 0 ? size.columns : kUsualSize.columns;
  const std::size_t lines = size.lines > 0 ? size.lines : kUsualSize.lines;
  return style_ == Style::InPlace ? DrawInPlace(columns, lines) : DrawOneLine(columns);
}

std::string ProgressRows::DrawInPlace(std::size_t columns, std::size_t lines) {
  std::vector<const Row*> started;
  for (const Row& row : rows_) {
    if (row.started) started.push_back(&row);
  }
  if (started.empty()) return Wipe();
  // Rows above the top of the window could not be reached again: the last line says how
  // many did not fit instead.
  const std::size_t fit = std::max<std::size_t>(1, lines - 1);
  std::size_t hidden = 0;
  if (started.size() > fit) {
    hidden = started.size() - (fit - 1);
    started.resize(fit - 1);
  }
  std::size_t labelColumns = 0;
  for (const Row* row : started) labelColumns = std::max(labelColumns, DisplayColumns(row->label));
  // A long name gets a third of the width, or 20 columns where that is at most half of it:
  // enough for the end of an adapter's name, which holds its serial number.
  const std::size_t room = columns - 1;
  labelColumns = std::min(labelColumns, std::max(room / 3, std::min<std::size_t>(20, room / 2)));

  std::string out;
  if (shownLines_ > 0) out += "\033[" + std::to_string(shownLines_) + "A";
  out += "\r";
  for (const Row* row : started) {
    out += ProgressRowText(row->label, labelColumns, row->percent, row->bytes, row->total,
                           row->seconds, columns);
    out += "\033[K\n";
  }
  if (hidden > 0) {
    out += CutToColumns("... " + std::to_string(hidden) + " more", columns - 1) + "\033[K\n";
  }
  out += "\033[J";  // the lines of rows drawn last time and not now
  shownLines_ = started.size() + (hidden > 0 ? 1 : 0);
  return out;
}

std::string ProgressRows::DrawOneLine(std::size_t columns) {
  // Whole entries only, as many as fit, then how many did not.
  std::vector<std::string> entries;
  for (const Row& row : rows_) {
    if (row.started) entries.push_back(row.label + " " + std::to_string(row.percent) + "%");
  }
  if (entries.empty()) return Wipe();
  std::string line;
  std::size_t shown = 0;
  for (const std::string& entry : entries) {
    const std::string longer = line.empty() ? entry : line + "  " + entry;
    const std::size_t rest = entries.size() - shown - 1;
    const std::size_t more = rest == 0 ? 0 : 3 + std::to_string(rest).size();  // "  +2"
    if (DisplayColumns(longer) + more > columns - 1) break;
    line = longer;
    ++shown;
  }
  if (shown < entries.size()) {
    line += (line.empty() ? "+" : "  +") + std::to_string(entries.size() - shown);
  }
  line = CutToColumns(line, columns - 1);
  const std::size_t drawn = DisplayColumns(line);
  const std::size_t cover = shownColumns_ > drawn ? shownColumns_ - drawn : 0;
  shownColumns_ = drawn;
  return "\r" + line + std::string(cover, ' ');
}

std::string ProgressRows::Wipe() {
  std::string out;
  if (shownLines_ > 0) out = "\033[" + std::to_string(shownLines_) + "A\r\033[J";
  if (shownColumns_ > 0) out = "\r" + std::string(shownColumns_, ' ') + "\r";
  shownLines_ = 0;
  shownColumns_ = 0;
  return out;
}

}  // namespace quorvex::cli
