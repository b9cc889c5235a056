#include "TComPort.h"

#include <array>
#include <utility>

namespace quorvex {

TComPort::TComPort(PlainMessage plainMessage, std::unique_ptr<PortBackend> backend)
    : plainMessage_(std::move(plainMessage)), backend_(std::move(backend)) {}

// A port still open when the object goes away is closed: the next program that opens
// it must not find it held.
TComPort::~TComPort() { Close(); }

bool TComPort::Probe(const std::string& path) {
  openFailure_ = backend_->OpenExclusive(path);
  return !openFailure_.Failed();
}

bool TComPort::OpenHandle(const std::string& path) {
  if (!Probe(path)) return false;
  backend_->PrepareQueues();
  return true;
}

bool TComPort::SetSpeed(std::uint32_t baud) { return backend_->SetLine(baud); }

bool TComPort::SetTimeouts(std::uint32_t timeoutMs) { return backend_->SetTimeouts(timeoutMs); }

bool TComPort::SetDtr(bool raise) { return backend_->SetDtr(raise); }

bool TComPort::Open(const std::string& path) {
  if (OpenHandle(path)) {
    if (SetSpeed(kBaudRate) && SetTimeouts(kTimeoutMs)) {
      SetDtr(false);  // the loader's line runs with DTR low; a port without DTR is fine too
      // What arrived while nobody held the port (a late reply to the previous program's
      // request) is not ours to read.
      backend_->DiscardInput();
      return true;
    }
    openFailure_ = {PortOpenError::LineRefused, ""};
  }
  // The port may stay open, unconfigured: the caller closes it.
  if (plainMessage_) plainMessage_(kPortOpenFailed + PortNameOf(path));
  return false;
}

void TComPort::Close() { backend_->Close(); }

bool TComPort::IsOpen() const { return backend_->IsOpen(); }

bool TComPort::WriteByte(std::uint8_t byte) { return backend_->Write(&byte, 1); }

bool TComPort::WriteBlock(const std::uint8_t* data, std::uint32_t count) {
  return backend_->Write(data, count);
}

std::uint8_t TComPort::ReadByte() { return ReadReplyByte(1); }

std::uint8_t TComPort::ReadReplyByte(std::size_t replyLeft) {
  std::uint8_t byte = 0;
  if (!backend_->ReadByte(byte, replyLeft)) TimedOut = true;
  return byte;
}

void TComPort::SendFrame(const std::uint8_t* payload, std::uint8_t length) {
  // A reply that came after its time-out, or a stray byte, is still in the line: it would be
  // read as this request's reply, and every exchange after it would be one reply behind.
  // The image stream sends no frames, so a late one-byte block answer still counts there.
  backend_->DiscardInput();
  // The frame's bytes go out as WriteByte would send them one by one, each with its own
  // time-out, but to a port that takes them together in one piece: a request handed over a
  // byte at a time reaches the instrument in parts whenever another program takes the CPU
  // in between, and the instrument answers only once the last part is in.
  std::array<std::uint8_t, 258> frame{};
  std::size_t n = 0;
  std::uint8_t sum = length;
  frame[n++] = length;
  frame[n++] = 0x00;
  for (unsigned i = 0; i < length; ++i) {
    frame[n++] = payload[i];
    sum = static_cast<std::uint8_t>(sum + payload[i]);
  }
  frame[n++] = static_cast<std::uint8_t>(sum ^ 0xFF);
  backend_->WriteEachByte(frame.data(), n);
}

unsigned TComPort::ReceiveFrame(std::uint8_t* buffer) {
  // What the frame still needs, counted down byte by byte, bounds every read of the line: a
  // byte after the frame (the next reply, a stray one) is never taken with it. The shortest
  // frame has three bytes (length 0, the zero byte, the check byte), so as much may come with
  // the length byte; after it, the frame needs L + 2 more.
  constexpr std::size_t kShortestFrame = 3;
  TimedOut = false;
  const std::uint8_t length = ReadReplyByte(kShortestFrame);
  if (TimedOut) return 0;
  std::uint8_t sum = length;
  std::size_t left = std::size_t{length} + 2;

  TimedOut = false;
  ReadReplyByte(left--);  // the second byte of a frame carries nothing
  if (TimedOut) return 0;

  for (unsigned i = 0; i < length; ++i) {
    TimedOut = false;
    buffer[i] = ReadReplyByte(left--);
    if (TimedOut) return 0;
    sum = static_cast<std::uint8_t>(sum + buffer[i]);
  }

  TimedOut = false;
  const std::uint8_t check = ReadReplyByte(left);
  if (TimedOut) return 0;
  // Accepted when no bit is set in both the check byte and the sum.
  if ((check & sum) != 0) return 0;
  return length;
}

std::uint32_t TComPort::ActualBaud() const { return backend_->ActualBaud(); }

std::string PortNameOf(std::string_view path) {
  for (std::string_view prefix :
       {std::string_view("//./"), std::string_view(R"(\\.\)"), std::string_view("/dev/")}) {
    if (path.starts_with(prefix)) return std::string(path.substr(prefix.size()));
  }
  return std::string(path);
}

std::string PortPathOf(std::string_view name) {
#ifdef _WIN32
  if (name.starts_with("//./") || name.starts_with(R"(\\.\)")) return std::string(name);
  return "//./" + std::string(name);
#else
  if (name.starts_with("/") || name.starts_with("./")) return std::string(name);
  return "/dev/" + std::string(name);
#endif
}

}  // namespace quorvex
