// Fuzz target: the instrument's side of every loader request, of the image transfer and of the
// three commands built on them, read from the fuzzer's bytes through an in-memory port.
//
// Input: byte 0 chooses the command, byte 1 the sector (0 to 65, so two numbers out of range),
// byte 2 the operator (bit 0: Yes to the overwrite question; bit 1: Cancel is pressed), byte 3
// the image block after which Cancel is pressed (scaled to 1..512); every later byte is what the
// instrument sends, read in order. Once they are used up, each read times out at once.
//
// Invariant: what the command returns, every message box and plain message it shows and every log
// line it writes equal what a slow reference makes of the same bytes, reading them frame by frame
// as the loader's protocol defines it. So a command succeeds only when the bytes held every
// success reply in full (a programming run is Done only when the finish reply CA xx, xx != 1, was
// present and valid), a failed run never ends its log with "ОК", the progress bar is back at 0
// whenever the transfer returns, and nothing is sent after a cancel. No out-of-bounds access or
// undefined behaviour (the sanitizers abort on those).
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Device.h"
#include "FirmwareFile.h"
#include "FuzzCheck.h"
#include "RecordingOperator.h"
#include "ScriptedBackend.h"
#include "SectorInf.h"
#include "Sequences.h"
#include "Texts.h"

namespace {

using quorvex::test::RecordingOperator;
using quorvex::test::Shown;
namespace text = quorvex::text;

enum Command : std::uint8_t {
  kCheck,
  kErase,
  kInit,
  kRead,
  kWrite,
  kProgram,
  kRun,
  kList,
  kClear,
  kCommands
};

constexpr int kBlocks = 512;
constexpr std::uint8_t kUntouched = 0x5A;  // fills the caller's block before a read

std::string g_firmwarePath;  // a valid firmware file for the programming run

// What the command should have done, built by the reference.
struct Expected {
  std::vector<std::string> log;
  std::vector<Shown> shown;
  bool beep = false;

  void Box(const char* textOf, const char* caption) {
    shown.push_back({textOf, caption, quorvex::kMbOk | quorvex::kMbIconError, false});
  }
};

// The instrument's bytes as the reference reads them: one whole frame at a time.
class Script {
 public:
  Script(const std::uint8_t* data, std::size_t size) : bytes_(data, data + size) {}

  // The payload of the next frame; nothing when a byte is missing, the check byte shares a bit
  // with the sum of length and payload, or the payload is empty.
  std::optional<std::vector<std::uint8_t>> Frame() {
    if (bytes_.size() - pos_ < 3) return std::nullopt;
    const std::size_t length = bytes_[pos_];
    if (bytes_.size() - pos_ < length + 3) return std::nullopt;
    unsigned sum = static_cast<unsigned>(length);
    std::vector<std::uint8_t> payload;
    for (std::size_t i = 0; i < length; ++i) {
      payload.push_back(bytes_[pos_ + 2 + i]);
      sum += bytes_[pos_ + 2 + i];
    }
    const std::uint8_t check = bytes_[pos_ + 2 + length];
    pos_ += length + 3;
    if ((check & (sum % 256)) != 0 || length == 0) return std::nullopt;
    return payload;
  }

  // One raw byte each, present or not: the block answers of the transfer.
  void Skip(std::size_t count) { pos_ = std::min(bytes_.size(), pos_ + count); }
  // The bytes not read yet: once they are used up, every read finds nothing.
  [[nodiscard]] std::size_t Left() const { return bytes_.size() - pos_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

struct Report {
  const char* caption;
  const char* receiveLog;  // nullptr: no line
  const char* wrongLog;
};

// One request's reply: a frame whose first byte is the complement of the request code and that
// carries at least `needed` bytes. On failure the report of the request goes into *expected.
std::optional<std::vector<std::uint8_t>> Reply(Script& script, std::uint8_t code,
                                               std::size_t needed, const Report& report,
                                               Expected* expected) {
  const auto frame = script.Frame();
  const bool wrong = frame && (*frame)[0] != static_cast<std::uint8_t>(~code);
  if (frame && !wrong && frame->size() >= needed) return frame;
  expected->Box(wrong ? text::kWrongReply : text::kReceiveFailure, report.caption);
  const char* line = wrong ? report.wrongLog : report.receiveLog;
  if (line != nullptr) expected->log.emplace_back(line);
  return std::nullopt;
}

bool RefCheck(Script& script, Expected* expected) {
  const auto reply = Reply(script, 0x02, 3, {text::kCaptionError, nullptr, nullptr}, expected);
  if (!reply) return false;
  if ((*reply)[1] != 0x45 || (*reply)[2] != 0xB3) {
    expected->Box(text::kWrongVersion, text::kCaptionError);
    return false;
  }
  return true;
}

bool SectorInRange(int sector) { return sector >= 1 && sector <= 64; }

// A request that names the sector checks the field first: outside 1 to 64 it sends nothing.
bool SectorChecked(int sector, Expected* expected) {
  if (SectorInRange(sector)) return true;
  expected->Box(text::kWrongSector, text::kCaptionError);
  return false;
}

bool RefErase(Script& script, int sector, Expected* expected) {
  if (!SectorChecked(sector, expected)) return false;
  return Reply(script, 0x31, 1, {text::kCaptionErase, "Ошибка стирания", "Ошибка стирания"},
               expected)
      .has_value();
}

bool RefInit(Script& script, int sector, Expected* expected) {
  if (!SectorChecked(sector, expected)) return false;
  return Reply(script, 0x32, 1,
               {text::kCaptionInit, "Ошибка инициализации", "Нет связи со сканером"}, expected)
      .has_value();
}

std::optional<std::vector<std::uint8_t>> RefRead(Script& script, Expected* expected) {
  return Reply(script, 0x33, 65,
               {text::kCaptionRead, "Ошибка приема сообщения", "Нет связи со сканером"}, expected);
}

bool RefWrite(Script& script, Expected* expected) {
  return Reply(script, 0x30, 1,
               {text::kCaptionWrite, "Ошибка чтения кадра", "Нет связи со сканером "}, expected)
      .has_value();
}

enum class TransferEnd { kOk, kFailed, kStopped };

// Three blocks in a row without an answer end the stream early; the finish follows as ever.
constexpr std::size_t kSilentBlocks = 3;

TransferEnd RefProgram(Script& script, int sector, int stopAfter, Expected* expected) {
  // Block n (from 1) is answered while bytes are left; the stream ends after the last block,
  // or at the third block in a row that found none. Cancel counts only up to there.
  const std::size_t lastBlock = std::min<std::size_t>(kBlocks, script.Left() + kSilentBlocks);
  if (stopAfter != 0 && static_cast<std::size_t>(stopAfter) <= lastBlock) {
    script.Skip(static_cast<std::size_t>(stopAfter));
    expected->log.emplace_back("Стоп");
    return TransferEnd::kStopped;
  }
  script.Skip(kBlocks);
  if (!SectorChecked(sector, expected)) return TransferEnd::kFailed;
  const auto reply =
      Reply(script, 0x35, 2,
            {text::kCaptionFinish, "Ошибка завершения программирования", "Нет связи со сканером"},
            expected);
  if (!reply) return TransferEnd::kFailed;
  if ((*reply)[1] == 1) {
    expected->Box(text::kChecksumFailure, text::kCaptionFinish);
    expected->log.emplace_back("Ошибка контрольной суммы микропрограммы");
    return TransferEnd::kFailed;
  }
  return TransferEnd::kOk;
}

quorvex::RunResult RefRun(Script& script, int sector, bool answerYes, int stopAfter,
                          Expected* expected) {
  using quorvex::RunResult;
  if (!RefCheck(script, expected)) return RunResult::Failed;
  if (!SectorInRange(sector)) {
    expected->Box(text::kWrongSector, text::kCaptionError);
    return RunResult::BadSector;
  }
  expected->log = {"Чтение файла...", "ОК", "Чтение информации о секторе..."};
  const auto block = RefRead(script, expected);
  if (!block) return RunResult::Failed;
  if ((*block)[63] == 0x55 && (*block)[64] == 0xAA) {
    expected->shown.push_back({text::kOverwrite, text::kCaptionProgramSector,
                               quorvex::kMbYesNo | quorvex::kMbIconError, false});
    if (!answerYes) return RunResult::Declined;
  }
  expected->log.emplace_back("ОК");
  if (!RefWrite(script, expected)) return RunResult::Failed;
  expected->log.emplace_back("Стирание...");
  if (!RefErase(script, sector, expected)) return RunResult::Failed;
  expected->log.emplace_back("ОК");
  if (!RefInit(script, sector, expected)) return RunResult::Failed;
  expected->log.emplace_back("Программирование...");
  switch (RefProgram(script, sector, stopAfter, expected)) {
    case TransferEnd::kStopped:
      return RunResult::Stopped;
    case TransferEnd::kFailed:
      return RunResult::Failed;
    case TransferEnd::kOk:
      break;
  }
  expected->log.emplace_back("ОК");
  expected->beep = true;
  return RunResult::Done;
}

quorvex::RunResult RefList(Script& script, Expected* expected) {
  using quorvex::RunResult;
  if (!RefCheck(script, expected)) return RunResult::Failed;
  for (int n = 1; n <= 64; ++n) {
    const auto block = RefRead(script, expected);
    if (!block) {
      expected->Box(text::kSectorInfoFailure, text::kCaptionRead);
      expected->log.emplace_back("Ошибка чтения кадра");
      return RunResult::Failed;
    }
    quorvex::SectorInf inf{};
    std::copy(block->begin() + 1, block->begin() + 65, inf.begin());
    expected->log.push_back(
        "Cектор " + std::to_string(n) +
        ((*block)[64] == 0xAA ? " - " + quorvex::SectorName(inf) : std::string(" - не загружен")));
  }
  return RunResult::Done;
}

quorvex::RunResult RefClear(Script& script, int sector, Expected* expected) {
  using quorvex::RunResult;
  if (!RefCheck(script, expected)) return RunResult::Failed;
  if (!SectorInRange(sector)) {
    expected->Box(text::kWrongSector, text::kCaptionError);
    return RunResult::BadSector;
  }
  expected->log.emplace_back("Стирание сектора...");
  if (!RefWrite(script, expected)) return RunResult::Failed;
  expected->log.emplace_back("ОК");
  return RunResult::Done;
}

void RemoveFirmware() { ::unlink(g_firmwarePath.c_str()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_firmwarePath = (std::filesystem::temp_directory_path() /
                    ("quorvex-fuzz-" + std::to_string(::getpid()) + ".fls"))
                       .string();
  quorvex::FileBytes image{};
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  quorvex::FileBytes file{};
  quorvex::EncodeImage(image, file);
  FUZZ_CHECK(quorvex::WriteWholeFile(g_firmwarePath, file.data(), file.size()));
  std::atexit(RemoveFirmware);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using quorvex::RunResult;
  if (size < 4) return 0;
  const auto command = static_cast<Command>(data[0] % kCommands);
  const int sector = data[1] % 66;
  const bool answerYes = (data[2] & 1) != 0;
  const int stopAfter = (data[2] & 2) != 0 ? 1 + data[3] * (kBlocks - 1) / 255 : 0;  // 1 to 512
  const std::uint8_t* replies = data + 4;
  const std::size_t replySize = size - 4;

  auto line = std::make_shared<quorvex::test::ScriptedLine>();
  RecordingOperator op;
  op.sectorText = std::to_string(sector);
  op.answerYes = answerYes;
  quorvex::TComPort port([&op](std::string_view message) { op.PlainMessage(message); },
                         std::make_unique<quorvex::test::ScriptedBackend>(line));
  FUZZ_CHECK(port.Open("/dev/fuzz"));
  line->Queue(std::vector<std::uint8_t>(replies, replies + replySize));
  auto device = std::make_unique<quorvex::Device>(port, op);
  device->SetPause([](std::chrono::milliseconds) {});
  device->FileName = g_firmwarePath;
  op.onProcessMessages = [&](int count) {
    if (count == stopAfter) device->StopRequested = 1;
  };

  Script script(replies, replySize);
  Expected expected;
  const auto sectorByte = static_cast<std::uint8_t>(sector);
  bool transferRan = false;
  bool stopped = false;
  switch (command) {
    case kCheck:
      FUZZ_CHECK(!device->CheckDevice() == RefCheck(script, &expected));
      break;
    case kErase:
      FUZZ_CHECK(!device->Erase() == RefErase(script, sector, &expected));
      break;
    case kInit:
      FUZZ_CHECK(!device->Init() == RefInit(script, sector, &expected));
      break;
    case kRead: {
      quorvex::SectorInf block{};
      block.fill(kUntouched);
      const bool ok = device->ReadSectorInf(sectorByte, block) == 0;
      const auto reference = RefRead(script, &expected);
      FUZZ_CHECK(ok == reference.has_value());
      if (ok) {
        FUZZ_CHECK(std::equal(block.begin(), block.end(), reference->begin() + 1));
      } else {
        FUZZ_CHECK(std::all_of(block.begin(), block.end(),
                               [](std::uint8_t b) { return b == kUntouched; }));
      }
      break;
    }
    case kWrite:
      FUZZ_CHECK((device->WriteSectorInf(sectorByte, quorvex::SectorInf{}) == 0) ==
                 RefWrite(script, &expected));
      break;
    case kProgram: {
      const bool failed = device->Program();
      const TransferEnd reference = RefProgram(script, sector, stopAfter, &expected);
      FUZZ_CHECK(failed == (reference != TransferEnd::kOk));
      stopped = reference == TransferEnd::kStopped;
      FUZZ_CHECK(device->Stopped() == stopped);
      transferRan = true;
      break;
    }
    case kRun: {
      const RunResult result = quorvex::RunProgramming(*device, op);
      const RunResult reference = RefRun(script, sector, answerYes, stopAfter, &expected);
      FUZZ_CHECK(result == reference);
      transferRan = !op.progress.empty();
      stopped = result == RunResult::Stopped;
      if (result != RunResult::Done) {
        FUZZ_CHECK(op.log.empty() || op.log.back() != "ОК");
      }
      break;
    }
    case kList:
      FUZZ_CHECK(quorvex::ListSectors(*device, op) == RefList(script, &expected));
      break;
    case kClear:
      FUZZ_CHECK(quorvex::ClearSector(*device, op) == RefClear(script, sector, &expected));
      break;
    case kCommands:
      break;
  }

  FUZZ_CHECK(op.log == expected.log);
  FUZZ_CHECK(op.shown == expected.shown);
  FUZZ_CHECK((op.beeps == 1) == expected.beep && op.beeps <= 1);
  if (transferRan) {
    FUZZ_CHECK(!op.progress.empty() && op.progress.back() == 0);
    FUZZ_CHECK(*std::max_element(op.progress.begin(), op.progress.end()) <= 99);
  }
  if (stopped) {
    // Nothing after the last image block: the written bytes end with a whole block.
    FUZZ_CHECK(line->writeSizes.back() == quorvex::kImageBlock);
  }
  return 0;
}
