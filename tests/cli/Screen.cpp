#include "Screen.h"

#include <algorithm>

#include <vterm.h>

namespace quorvex::test {
namespace {

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Never written, erased, or a space written there.
bool Blank(const VTermScreenCell& cell) { return cell.chars[0] == 0 || cell.chars[0] == ' '; }

// The text of a row of cells; the second half of a wide character adds nothing.
Screen::Line LineOf(const VTermScreenCell* cells, int columns) {
  Screen::Line line;
  std::size_t kept = 0;
  for (int i = 0; i < columns; ++i) {
    const VTermScreenCell& cell = cells[i];
    if (Blank(cell)) {
      line.text += ' ';
    } else {
      for (int k = 0; k < VTERM_MAX_CHARS_PER_CELL && cell.chars[k] != 0; ++k) {
        AppendUtf8(line.text, cell.chars[k]);
      }
      kept = line.text.size();
      if (cell.width == 2) ++i;
    }
  }
  // Anything written there, a space too: the terminal went on on the next line.
  line.full = cells[columns - 1].chars[0] != 0 ||
              (columns > 1 && cells[columns - 2].chars[0] != 0 && cells[columns - 2].width == 2);
  line.text.resize(kept);
  return line;
}

}  // namespace

Screen::Screen(int lines, int columns)
    : vt_(vterm_new(lines, columns)), screen_(nullptr), lines_(lines), columns_(columns) {
  vterm_set_utf8(vt_, 1);
  screen_ = vterm_obtain_screen(vt_);
  static const VTermScreenCallbacks callbacks = [] {
    VTermScreenCallbacks c{};
    c.sb_pushline = [](int cols, const VTermScreenCell* cells, void* self) {
      return PushLine(cols, cells, self);
    };
    return c;
  }();
  vterm_screen_set_callbacks(screen_, &callbacks, this);
  vterm_screen_reset(screen_, 1);
}

Screen::~Screen() { vterm_free(vt_); }

int Screen::PushLine(int columns, const void* cells, void* self) {
  auto* screen = static_cast<Screen*>(self);
  screen->scrolled_.push_back(LineOf(static_cast<const VTermScreenCell*>(cells), columns));
  return 1;
}

void Screen::Feed(std::string_view bytes) { vterm_input_write(vt_, bytes.data(), bytes.size()); }

void Screen::Resize(int lines, int columns) {
  vterm_set_size(vt_, lines, columns);
  lines_ = lines;
  columns_ = columns;
}

std::vector<Screen::Line> Screen::Window() const {
  std::vector<Line> window;
  std::vector<VTermScreenCell> cells(static_cast<std::size_t>(columns_));
  for (int row = 0; row < lines_; ++row) {
    for (int col = 0; col < columns_; ++col) {
      vterm_screen_get_cell(screen_, VTermPos{row, col}, &cells[static_cast<std::size_t>(col)]);
    }
    window.push_back(LineOf(cells.data(), columns_));
  }
  return window;
}

std::vector<std::string> Screen::Transcript() const {
  std::vector<Line> all = scrolled_;
  std::vector<Line> window = Window();
  while (!window.empty() && window.back().text.empty()) window.pop_back();
  all.insert(all.end(), window.begin(), window.end());
  std::vector<std::string> lines;
  bool joining = false;
  for (const Line& line : all) {
    if (joining) {
      lines.back() += line.text;
    } else {
      lines.push_back(line.text);
    }
    joining = line.full;
    if (joining) {
      // A wrapped line goes on in the next one: the blanks it ended with are part of the text
      // ("ok, 3.36 s" wrapped after the comma keeps its space).
      const auto columns = static_cast<int>(std::count_if(
          line.text.begin(), line.text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
      lines.back().append(static_cast<std::size_t>(std::max(0, columns_ - columns)), ' ');
    }
  }
  return lines;
}

}  // namespace quorvex::test
