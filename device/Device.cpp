#include "Device.h"

#include <algorithm>
#include <optional>
#include <string>
#include <thread>

#include "SectorNumber.h"
#include "Texts.h"

namespace quorvex {
namespace {

constexpr std::uint32_t kProgressScale = 100;

// Every reply code is the complement of its request code.
constexpr std::uint8_t ReplyCodeOf(std::uint8_t requestCode) {
  return static_cast<std::uint8_t>(requestCode ^ 0xFF);
}

}  // namespace

bool ReportFileFailure(Operator& op, FileStatus status) {
  if (status == FileStatus::Ok) return false;
  op.MessageBox(status == FileStatus::CannotOpen ? text::kCannotOpenFile : text::kWrongFileLength,
                text::kCaptionError, kMbOk | kMbIconError);
  return true;
}

std::uint16_t SectorInfAddress(std::uint8_t sector) {
  return static_cast<std::uint16_t>((std::uint32_t{sector} + 895u) * 64u);
}

Device::Device(TComPort& port, Operator& op)
    : Port(port),
      op_(op),
      pause_([](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); }) {}

Device::Outcome Device::Receive(unsigned needed) {
  const unsigned length = Port.ReceiveFrame(Reply.data());
  if (length == 0) return Outcome::ReceiveFailure;
  if (Reply[0] != ReplyCodeOf(Request[0])) return Outcome::WrongReply;
  if (length < needed) return Outcome::ReceiveFailure;
  return Outcome::Ok;
}

void Device::Report(Outcome outcome, const char* caption, const char* receiveLog,
                    const char* wrongLog) {
  const bool receive = outcome == Outcome::ReceiveFailure;
  op_.MessageBox(receive ? text::kReceiveFailure : text::kWrongReply, caption,
                 kMbOk | kMbIconError);
  const char* line = receive ? receiveLog : wrongLog;
  if (line != nullptr) op_.Log(line);
}

std::optional<std::uint8_t> Device::SectorIndexFromField() {
  // The run has checked the field and keeps it disabled, so it holds 1 to 64 here. Should it
  // ever hold anything else, the same check reports it and nothing is sent: a text that does
  // not convert must never address sector 1.
  const std::optional<int> sector = CheckSectorNumber(op_, op_.SectorText());
  if (!sector) return std::nullopt;
  return static_cast<std::uint8_t>(*sector - 1);
}

bool Device::CheckDevice() {
  Request[0] = request::kCheckDevice;
  Port.SendFrame(Request.data(), 1);
  const Outcome outcome = Receive(3);
  if (outcome != Outcome::Ok) {
    Report(outcome, text::kCaptionError, nullptr, nullptr);
    return true;
  }
  if (Reply[1] != kLoaderVersionHigh || Reply[2] != kLoaderVersionLow) {
    op_.MessageBox(text::kWrongVersion, text::kCaptionError, kMbOk | kMbIconError);
    return true;
  }
  return false;
}

LoaderAnswer Device::ProbeLoader(std::chrono::milliseconds wait) {
  if (!Port.SetTimeouts(static_cast<std::uint32_t>(wait.count()))) return LoaderAnswer::None;
  Request[0] = request::kCheckDevice;
  Port.SendFrame(Request.data(), 1);
  const Outcome outcome = Receive(3);
  Port.SetTimeouts(TComPort::kTimeoutMs);
  if (outcome != Outcome::Ok) return LoaderAnswer::None;
  return Reply[1] == kLoaderVersionHigh && Reply[2] == kLoaderVersionLow
             ? LoaderAnswer::Loader
             : LoaderAnswer::OtherVersion;
}

bool Device::Erase() {
  const std::optional<std::uint8_t> index = SectorIndexFromField();
  if (!index) return true;
  Request[0] = request::kErase;
  Request[1] = *index;
  Port.SendFrame(Request.data(), 2);
  const Outcome outcome = Receive(1);
  if (outcome == Outcome::Ok) return false;
  Report(outcome, text::kCaptionErase, text::kLogEraseFailed, text::kLogEraseFailed);
  return true;
}

bool Device::Init() {
  const std::optional<std::uint8_t> index = SectorIndexFromField();
  if (!index) return true;
  Request[0] = request::kInit;
  Request[1] = *index;
  Port.SendFrame(Request.data(), 2);
  const Outcome outcome = Receive(1);
  if (outcome == Outcome::Ok) return false;
  Report(outcome, text::kCaptionInit, text::kLogInitFailed, text::kLogNoConnection);
  return true;
}

std::uint8_t Device::ReadSectorInf(std::uint8_t sector, SectorInf& block) {
  const std::uint16_t address = SectorInfAddress(sector);
  Request[0] = request::kReadSectorInf;
  Request[1] = static_cast<std::uint8_t>(address >> 8);
  Request[2] = static_cast<std::uint8_t>(address & 0xFF);
  Port.SendFrame(Request.data(), 3);
  const Outcome outcome = Receive(1 + kSectorInfSize);
  if (outcome != Outcome::Ok) {
    Report(outcome, text::kCaptionRead, text::kLogReceiveFailed, text::kLogNoConnection);
    return 1;
  }
  std::copy_n(Reply.begin() + 1, kSectorInfSize, block.begin());
  return 0;
}

std::uint8_t Device::WriteSectorInf(std::uint8_t sector, const SectorInf& block) {
  const std::uint16_t address = SectorInfAddress(sector);
  Request[0] = request::kWriteSectorInf;
  Request[1] = static_cast<std::uint8_t>(address >> 8);
  Request[2] = static_cast<std::uint8_t>(address & 0xFF);
  Port.SendFrame(Request.data(), 3);
  // The block follows the frame raw, each byte after a pause the loader needs to store it.
  for (const std::uint8_t byte : block) {
    pause_(kSectorInfBytePause);
    Port.WriteByte(byte);
  }
  const Outcome outcome = Receive(1);
  if (outcome != Outcome::Ok) {
    static constexpr const char* kNoConnectionWithSpace = "Нет связи со сканером ";
    Report(outcome, text::kCaptionWrite, text::kLogBlockReadFailed, kNoConnectionWithSpace);
    return 1;
  }
  return 0;
}

bool Device::Program() {
  stopped_ = false;
  StopRequested = 0;
  op_.SetProgress(0);
  unsigned unanswered = 0;  // blocks in a row whose answer did not come at all
  for (std::uint32_t offset = 0; offset < kFirmwareSize; offset += kImageBlock) {
    Port.WriteBlock(Image.data() + offset, kImageBlock);
    // The loader answers each block with one byte once it has stored it; its value and a
    // missing answer are not judged here: the finish request's verdict is.
    Port.TimedOut = false;
    Port.ReadByte();
    unanswered = Port.TimedOut ? unanswered + 1 : 0;
    op_.ProcessMessages();
    if (StopRequested != 0) {
      op_.SetProgress(0);
      pause_(kStopPause);
      op_.Log(text::kLogStop);
      stopped_ = true;
      return true;
    }
    // FileSize is 65,600 after a successful ReadFile; never divide by a zero left elsewhere.
    const std::uint32_t divisor = FileSize != 0 ? FileSize : kFileSize;
    op_.SetProgress(static_cast<int>((offset + 1) * kProgressScale / divisor));
    // A loader that has gone silent would cost every block left its whole time-out, three
    // quarters of an hour: the stream ends here, and the finish request below reports the
    // failure as it always does.
    if (unanswered >= kSilentBlocks) break;
  }
  pause_(kFinishPause);
  if (op_.StopAsked()) {  // asked during the pause: no finish request
    op_.SetProgress(0);
    op_.Log(text::kLogStop);
    stopped_ = true;
    return true;
  }

  const std::optional<std::uint8_t> index = SectorIndexFromField();
  if (!index) {
    op_.SetProgress(0);
    return true;
  }
  Request[0] = request::kFinish;
  Request[1] = *index;
  Port.SendFrame(Request.data(), 2);
  const Outcome outcome = Receive(2);
  if (outcome != Outcome::Ok) {
    Report(outcome, text::kCaptionFinish, text::kLogFinishFailed, text::kLogNoConnection);
    op_.SetProgress(0);
    return true;
  }
  if (Reply[1] == 1) {
    op_.MessageBox(text::kChecksumFailure, text::kCaptionFinish, kMbOk | kMbIconError);
    op_.Log(text::kLogChecksumFailed);
    op_.SetProgress(0);
    return true;
  }
  op_.SetProgress(0);
  return false;
}

bool Device::ReadFile() {
  fileRead_ = false;
  if (FileName.empty()) {
    op_.MessageBox(text::kOpenFile, text::kCaptionError, kMbOk | kMbIconError);
    return true;
  }
  if (ReportFileFailure(op_, ReadFirmwareFile(FileName, RawFile, &FileSize))) return true;
  DecodeImage(RawFile, Image);
  fileRead_ = true;
  return false;
}

bool Device::OpenFirmware(const std::string& path) {
  FileName = path;
  // The file as chosen goes into Image unchanged; every run reads and decodes it again.
  if (ReportFileFailure(op_, ReadFirmwareFile(path, Image, &FileSize))) {
    FileName.clear();
    return true;
  }
  op_.Log(std::string(text::kLogFileOpened) + path);
  return false;
}

}  // namespace quorvex
