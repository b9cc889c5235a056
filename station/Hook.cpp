#include "Hook.h"

#include <string_view>

namespace quorvex::station {
namespace {

std::string Limit(std::chrono::milliseconds limit) {
  if (limit.count() % 1000 == 0) return std::to_string(limit.count() / 1000) + " s";
  return std::to_string(limit.count()) + " ms";
}

}  // namespace

std::string FirstStderrLine(std::string_view text) {
  std::string_view line = text.substr(0, text.find('\n'));
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.size() > kHookStderrLineBytes) {
    std::size_t cut = kHookStderrLineBytes;
    // Not in the middle of a UTF-8 sequence: back to the start of the character cut.
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0U) == 0x80U) --cut;
    line = line.substr(0, cut);
  }
  return std::string(line);
}

std::string HookComplaint(const HookOutcome& outcome) {
  std::string complaint;
  if (!outcome.started) {
    complaint = "on-result: cannot start: " + outcome.error;
  } else if (outcome.timedOut) {
    complaint = "on-result: ended after " + Limit(outcome.limit);
  } else if (!outcome.error.empty()) {
    complaint = "on-result: " + outcome.error;
  } else if (outcome.exitCode != 0) {
    complaint = "on-result: exit " + std::to_string(outcome.exitCode);
  } else {
    return {};
  }
  if (outcome.started && !outcome.stderrLine.empty()) complaint += ": " + outcome.stderrLine;
  return complaint;
}

}  // namespace quorvex::station
