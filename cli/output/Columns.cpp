#include "Columns.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace quorvex::cli {
namespace {

struct Range {
  char32_t first;
  char32_t last;
};

// Characters drawn over the one before them.
constexpr std::array kCombining{
    Range{0x0300, 0x036F}, Range{0x0483, 0x0489}, Range{0x0591, 0x05BD},
    Range{0x0610, 0x061A}, Range{0x064B, 0x065F}, Range{0x200B, 0x200F},
    Range{0x20D0, 0x20FF}, Range{0xFE00, 0xFE0F}, Range{0xFE20, 0xFE2F},
};

// Characters two columns wide (East Asian wide and full-width forms, pictographs).
constexpr std::array kWide{
    Range{0x1100, 0x115F},   Range{0x2E80, 0x303E},   Range{0x3041, 0x33FF},
    Range{0x3400, 0x4DBF},   Range{0x4E00, 0x9FFF},   Range{0xA000, 0xA4CF},
    Range{0xAC00, 0xD7A3},   Range{0xF900, 0xFAFF},   Range{0xFE30, 0xFE4F},
    Range{0xFF00, 0xFF60},   Range{0xFFE0, 0xFFE6},   Range{0x1F300, 0x1F64F},
    Range{0x1F900, 0x1F9FF}, Range{0x20000, 0x2FFFD}, Range{0x30000, 0x3FFFD},
};

template <std::size_t N>
bool In(const std::array<Range, N>& ranges, char32_t c) {
  return std::any_of(ranges.begin(), ranges.end(),
                     [c](const Range& r) { return c >= r.first && c <= r.last; });
}

// One character of the text: its bytes and its columns.
struct Glyph {
  std::size_t begin;
  std::size_t end;
  std::size_t columns;
};

// The length of a well-formed UTF-8 sequence starting at `at` and its character; 0 when the
// bytes there start none (a stray continuation byte, a cut or overlong sequence).
std::pair<std::size_t, char32_t> Decode(std::string_view text, std::size_t at) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return {1, lead};
  std::size_t length = 0;
  char32_t c = 0;
  char32_t least = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, c = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, c = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, c = lead & 0x07, least = 0x10000;
  } else {
    return {0, 0};
  }
  if (at + length > text.size()) return {0, 0};
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return {0, 0};
    c = (c << 6) | (byte(at + i) & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {0, 0};
  return {length, c};
}

std::vector<Glyph> Glyphs(std::string_view text) {
  std::vector<Glyph> glyphs;
  for (std::size_t at = 0; at < text.size();) {
    const auto [length, c] = Decode(text, at);
    if (length == 0) {
      glyphs.push_back({at, at + 1, 1});
      ++at;
      continue;
    }
    const std::size_t columns = In(kCombining, c) ? 0 : In(kWide, c) ? 2 : 1;
    glyphs.push_back({at, at + length, columns});
    at += length;
  }
  return glyphs;
}

constexpr std::string_view kEllipsis = "…";

}  // namespace

std::size_t DisplayColumns(std::string_view text) {
  std::size_t columns = 0;
  for (const Glyph& g : Glyphs(text)) columns += g.columns;
  return columns;
}

std::string CutToColumns(std::string_view text, std::size_t columns) {
  std::size_t used = 0;
  std::size_t end = 0;
  for (const Glyph& g : Glyphs(text)) {
    if (used + g.columns > columns) break;
    used += g.columns;
    end = g.end;  // a combining mark stays with the character before it
  }
  return std::string(text.substr(0, end));
}

std::string KeepEnd(std::string_view text, std::size_t columns) {
  if (DisplayColumns(text) <= columns) return std::string(text);
  if (columns == 0) return {};
  const std::vector<Glyph> glyphs = Glyphs(text);
  std::size_t used = 1;  // the ellipsis
  std::size_t begin = text.size();
  for (auto g = glyphs.rbegin(); g != glyphs.rend(); ++g) {
    if (used + g->columns > columns) break;
    used += g->columns;
    begin = g->begin;
  }
  // A combining mark cannot start the text: it belongs to a character that was cut off.
  for (const Glyph& g : glyphs) {
    if (g.begin >= begin && g.columns == 0) begin = g.end;
    if (g.begin >= begin && g.columns > 0) break;
  }
  return std::string(kEllipsis) + std::string(text.substr(begin));
}

std::string Prefixed(const std::string& prefix, std::string_view text) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    out += prefix;
    out += text.substr(start, end == std::string_view::npos ? end : end - start);
    if (end == std::string_view::npos) return out;
    out += '\n';
    start = end + 1;
  }
}

}  // namespace quorvex::cli
