#include "BaselineHost.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "SystemErrorText.h"

namespace quorvex::bench {
namespace {

// The loader's requests, as the wire carries them.
constexpr std::uint8_t kCheck = 0x02;
constexpr std::uint8_t kWriteBlock = 0x30;
constexpr std::uint8_t kErase = 0x31;
constexpr std::uint8_t kInit = 0x32;
constexpr std::uint8_t kReadBlock = 0x33;
constexpr std::uint8_t kFinish = 0x35;
constexpr std::size_t kChunk = 128;  // image bytes a write, each answered by one byte
// The pauses the loader needs: before each byte of an information block, before the finish.
constexpr auto kBlockBytePause = std::chrono::milliseconds(10);
constexpr auto kFinishPause = std::chrono::milliseconds(1000);

std::uint16_t BlockAddress(int sector) { return static_cast<std::uint16_t>((sector + 895) * 64); }

}  // namespace

BaselineHost::~BaselineHost() {
  if (fd_ >= 0) ::close(fd_);
}

bool BaselineHost::Open(const std::string& path, std::string* error) {
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t{};
  if (fd_ < 0 || ::tcgetattr(fd_, &t) != 0) {
    *error = path + ": " + SystemErrorText(errno);
    return false;
  }
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;  // a read blocks until a byte is there
  t.c_cc[VTIME] = 0;
  ::tcsetattr(fd_, TCSANOW, &t);
  ::tcflush(fd_, TCIFLUSH);
  return true;
}

bool BaselineHost::WriteAll(const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd_, data, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool BaselineHost::Send(std::initializer_list<std::uint8_t> payload) {
  std::uint8_t frame[8];
  std::size_t n = 0;
  auto sum = static_cast<std::uint8_t>(payload.size());
  frame[n++] = sum;
  frame[n++] = 0;
  for (const std::uint8_t byte : payload) {
    frame[n++] = byte;
    sum = static_cast<std::uint8_t>(sum + byte);
  }
  frame[n++] = static_cast<std::uint8_t>(sum ^ 0xFF);
  return WriteAll(frame, n);
}

unsigned BaselineHost::Receive() {
  std::uint8_t head[2];
  if (::read(fd_, &head[0], 1) != 1 || ::read(fd_, &head[1], 1) != 1) return 0;
  for (unsigned i = 0; i < head[0]; ++i) {
    if (::read(fd_, &reply_[i], 1) != 1) return 0;
  }
  std::uint8_t check = 0;
  return ::read(fd_, &check, 1) == 1 ? head[0] : 0;
}

bool BaselineHost::Exchange(std::initializer_list<std::uint8_t> payload, unsigned needed,
                            std::string* error) {
  const std::uint8_t code = *payload.begin();
  if (!Send(payload) || Receive() < needed || reply_[0] != static_cast<std::uint8_t>(~code)) {
    *error = "baseline host: no good reply to request " + std::to_string(code);
    return false;
  }
  return true;
}

bool BaselineHost::ReadBlock(int sector, std::string* error) {
  const std::uint16_t address = BlockAddress(sector);
  return Exchange({kReadBlock, static_cast<std::uint8_t>(address >> 8),
                   static_cast<std::uint8_t>(address & 0xFF)},
                  65, error);
}

bool BaselineHost::Program(const std::array<std::uint8_t, 65'536>& firmware,
                           const std::array<std::uint8_t, 64>& block, int sector,
                           std::string* error) {
  const auto index = static_cast<std::uint8_t>(sector - 1);
  const std::uint16_t address = BlockAddress(sector);
  if (!Exchange({kCheck}, 3, error) || !ReadBlock(sector, error)) return false;
  if (!Send({kWriteBlock, static_cast<std::uint8_t>(address >> 8),
             static_cast<std::uint8_t>(address & 0xFF)})) {
    return false;
  }
  for (const std::uint8_t byte : block) {
    std::this_thread::sleep_for(kBlockBytePause);
    if (!WriteAll(&byte, 1)) return false;
  }
  if (Receive() < 1 || !Exchange({kErase, index}, 1, error) ||
      !Exchange({kInit, index}, 1, error)) {
    return false;
  }
  for (std::size_t offset = 0; offset < firmware.size(); offset += kChunk) {
    std::uint8_t answer = 0;
    if (!WriteAll(firmware.data() + offset, kChunk) || ::read(fd_, &answer, 1) != 1) return false;
  }
  std::this_thread::sleep_for(kFinishPause);
  if (!Exchange({kFinish, index}, 2, error)) return false;
  if (reply_[1] == 1) *error = "baseline host: the instrument's checksum did not match";
  return reply_[1] != 1;
}

bool BaselineHost::List(std::string* error) {
  if (!Exchange({kCheck}, 3, error)) return false;
  for (int sector = 1; sector <= 64; ++sector) {
    if (!ReadBlock(sector, error)) return false;
  }
  return true;
}

}  // namespace quorvex::bench
