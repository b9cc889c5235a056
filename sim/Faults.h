#pragma once

#include <array>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::sim {

// Request codes of the loader.
inline constexpr std::uint8_t kCheckRequest = 0x02;
inline constexpr std::uint8_t kWriteBlockRequest = 0x30;
inline constexpr std::uint8_t kEraseRequest = 0x31;
inline constexpr std::uint8_t kInitRequest = 0x32;
inline constexpr std::uint8_t kReadBlockRequest = 0x33;
inline constexpr std::uint8_t kFinishRequest = 0x35;

// The misbehaviours the simulated loader can be told to show. Empty: a healthy loader.
struct Faults {
  bool silent = false;                                 // never answers
  std::optional<std::array<std::uint8_t, 2>> version;  // device check answers FD XX YY
  std::bitset<256> wrongCode;                          // by request code
  std::bitset<256> badCheck;
  std::bitset<256> shortReply;
  std::optional<int> muteAfter;    // image blocks answered before the loader hangs
  std::optional<int> hangupAfter;  // image blocks answered before the line is closed
  bool checksumMismatch = false;
  bool strayByte = false;
  std::chrono::milliseconds delay{0};
};

// Reads one fault as typed, such as "silent", "version=45B4", "short=33", "wrong-code=init",
// "delay-ms=20" into *faults. False with *error set when it is not understood.
bool ParseFault(std::string_view text, Faults* faults, std::string* error);
bool ParseFaults(const std::vector<std::string>& texts, Faults* faults, std::string* error);

// "check", "write", ... or a hex code ("33", "0x33") of one of the six requests.
std::optional<std::uint8_t> ParseRequestCode(std::string_view text);

}  // namespace quorvex::sim
