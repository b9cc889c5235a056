#include "Faults.h"

#include <charconv>

namespace quorvex::sim {
namespace {

constexpr int kLastBlock = 512;
constexpr int kLongestDelayMs = 60'000;

struct NamedCode {
  std::string_view name;
  std::uint8_t code;
};

constexpr std::array<NamedCode, 6> kRequestNames{{
    {"check", kCheckRequest},
    {"write", kWriteBlockRequest},
    {"erase", kEraseRequest},
    {"init", kInitRequest},
    {"read", kReadBlockRequest},
    {"finish", kFinishRequest},
}};

bool ParseHex(std::string_view text, unsigned* value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value, 16);
  return ec == std::errc{} && ptr == end;
}

std::optional<int> ParseInt(std::string_view text, int low, int high) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc{} || ptr != end || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

bool Fail(std::string* error, std::string_view text, std::string_view why) {
  if (error != nullptr) *error = "bad fault '" + std::string(text) + "': " + std::string(why);
  return false;
}

}  // namespace

std::optional<std::uint8_t> ParseRequestCode(std::string_view text) {
  for (const auto& named : kRequestNames) {
    if (text == named.name) return named.code;
  }
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  unsigned value = 0;
  if (text.size() > 2 || !ParseHex(text, &value)) return std::nullopt;
  for (const auto& named : kRequestNames) {
    if (named.code == value) return named.code;
  }
  return std::nullopt;
}

bool ParseFault(std::string_view text, Faults* faults, std::string* error) {
  const auto equals = text.find('=');
  const std::string_view name = text.substr(0, equals);
  const bool hasValue = equals != std::string_view::npos;
  const std::string_view value = hasValue ? text.substr(equals + 1) : std::string_view{};

  if (name == "silent" || name == "checksum-mismatch" || name == "stray-byte") {
    if (hasValue) return Fail(error, text, "takes no value");
    if (name == "silent") faults->silent = true;
    if (name == "checksum-mismatch") faults->checksumMismatch = true;
    if (name == "stray-byte") faults->strayByte = true;
    return true;
  }
  if (!hasValue) return Fail(error, text, "unknown fault or missing value");

  if (name == "version") {
    unsigned bytes = 0;
    if (value.size() != 4 || !ParseHex(value, &bytes)) {
      return Fail(error, text, "expected four hex digits, e.g. version=45B4");
    }
    faults->version = std::array<std::uint8_t, 2>{static_cast<std::uint8_t>(bytes >> 8),
                                                  static_cast<std::uint8_t>(bytes & 0xFF)};
    return true;
  }
  if (name == "wrong-code" || name == "bad-check" || name == "short") {
    const auto code = ParseRequestCode(value);
    if (!code) {
      return Fail(error, text,
                  "expected a request: check, write, erase, init, read, finish or its hex code");
    }
    std::bitset<256>& set = name == "wrong-code"  ? faults->wrongCode
                            : name == "bad-check" ? faults->badCheck
                                                  : faults->shortReply;
    set.set(*code);
    return true;
  }
  if (name == "mute-after" || name == "hangup-after") {
    const auto block = ParseInt(value, 0, kLastBlock);
    if (!block) return Fail(error, text, "expected a block count from 0 to 512");
    (name == "mute-after" ? faults->muteAfter : faults->hangupAfter) = *block;
    return true;
  }
  if (name == "delay-ms") {
    const auto ms = ParseInt(value, 0, kLongestDelayMs);
    if (!ms) return Fail(error, text, "expected milliseconds from 0 to 60000");
    faults->delay = std::chrono::milliseconds(*ms);
    return true;
  }
  return Fail(error, text, "unknown fault");
}

bool ParseFaults(const std::vector<std::string>& texts, Faults* faults, std::string* error) {
  for (const auto& text : texts) {
    if (!ParseFault(text, faults, error)) return false;
  }
  return true;
}

}  // namespace quorvex::sim
