#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "FirmwareFile.h"
#include "FirmwareImage.h"
#include "Operator.h"
#include "SectorInf.h"
#include "TComPort.h"

namespace quorvex {

// The loader's request codes; every reply code is the complement of its request code.
namespace request {
inline constexpr std::uint8_t kCheckDevice = 0x02;
inline constexpr std::uint8_t kWriteSectorInf = 0x30;
inline constexpr std::uint8_t kErase = 0x31;
inline constexpr std::uint8_t kInit = 0x32;
inline constexpr std::uint8_t kReadSectorInf = 0x33;
inline constexpr std::uint8_t kFinish = 0x35;
}  // namespace request

inline constexpr std::uint8_t kLoaderVersionHigh = 0x45;
inline constexpr std::uint8_t kLoaderVersionLow = 0xB3;
inline constexpr std::size_t kImageBlock = 128;
inline constexpr std::chrono::milliseconds kSectorInfBytePause{10};
inline constexpr std::chrono::milliseconds kFinishPause{1000};
inline constexpr std::chrono::milliseconds kStopPause{1000};
// Image blocks in a row left without any answer after which the stream gives up.
inline constexpr unsigned kSilentBlocks = 3;

// What a probe of the line found.
enum class LoaderAnswer {
  None,          // no reply, a broken one, or another request's reply: nothing on the line yet
  Loader,        // the loader answered with its version
  OtherVersion,  // a loader answered, of another version
};

// Shows the box of a firmware file that cannot be used; true when `status` is such a failure.
[[nodiscard]] bool ReportFileFailure(Operator& op, FileStatus status);

// The 16-bit address of a sector's information block: (n + 895) * 64, 0xE000 for sector 1.
std::uint16_t SectorInfAddress(std::uint8_t sector);

// The instrument as the programmer sees it: the loader's requests, the image transfer and
// the firmware file, with the buffers they share. Every failing method has told the
// operator why before it returns; callers only stop.
class Device {
 public:
  using Pause = std::function<void(std::chrono::milliseconds)>;

  Device(TComPort& port, Operator& op);

  // true on failure
  [[nodiscard]] bool CheckDevice();
  // The device check as a probe for an instrument put on the line: waits at most `wait` for
  // each byte of the reply, tells the operator nothing, and leaves the port's time-outs as
  // they were.
  [[nodiscard]] LoaderAnswer ProbeLoader(std::chrono::milliseconds wait);
  [[nodiscard]] bool Erase();
  [[nodiscard]] bool Init();
  [[nodiscard]] bool Program();
  [[nodiscard]] bool ReadFile();
  // 0 on success, 1 on failure; `block` is untouched on failure.
  [[nodiscard]] std::uint8_t ReadSectorInf(std::uint8_t sector, SectorInf& block);
  [[nodiscard]] std::uint8_t WriteSectorInf(std::uint8_t sector, const SectorInf& block);

  // What the open command does once a path is chosen: open the file, measure it, read it,
  // log "Открыт файл: " + path. On failure FileName is emptied. true on failure.
  [[nodiscard]] bool OpenFirmware(const std::string& path);

  // Replaces the pauses (tests and fuzzing run without waiting).
  void SetPause(Pause pause) { pause_ = std::move(pause); }

  // True when the last Program() ended because the operator asked it to stop.
  [[nodiscard]] bool Stopped() const { return stopped_; }
  // True when the last ReadFile() read the whole file into RawFile and decoded it into Image:
  // what a run then sends is exactly those bytes.
  [[nodiscard]] bool FileRead() const { return fileRead_; }

  TComPort& Port;
  std::array<std::uint8_t, 256> Request{};
  std::array<std::uint8_t, 256> Reply{};
  FileBytes Image{};
  FileBytes RawFile{};
  std::string FileName;
  std::uint32_t FileSize = 0;
  std::uint8_t StopRequested = 0;

 private:
  enum class Outcome { Ok, ReceiveFailure, WrongReply };
  // Reads the reply to the request in Request[0]: a reply with fewer than `needed` payload
  // bytes is a receive failure, so no stale byte is ever taken as data.
  Outcome Receive(unsigned needed);
  void Report(Outcome outcome, const char* caption, const char* receiveLog, const char* wrongLog);
  // n - 1 for the sector number n (1 to 64) in the sector field right now; nothing, after
  // the fault was reported, for any other text.
  std::optional<std::uint8_t> SectorIndexFromField();

  Operator& op_;
  Pause pause_;
  bool stopped_ = false;
  bool fileRead_ = false;
};

}  // namespace quorvex
