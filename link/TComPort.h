#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "PortBackend.h"

namespace quorvex {

// What the operator is shown when a port cannot be opened, followed by the port's name.
inline constexpr const char* kPortOpenFailed = "Ошибка открытия порта ";

// The one serial port of the programmer: holds at most one open port, configured for
// the instrument's link (62,500 baud 8N1, 5,001 ms one-byte reads, DTR low), and the
// framed request/reply exchange of the loader.
class TComPort {
 public:
  // Shows a plain message to the operator; the only report the port object makes.
  using PlainMessage = std::function<void(std::string_view)>;

  static constexpr std::uint32_t kBaudRate = 62'500;
  static constexpr std::uint32_t kTimeoutMs = 5'000;

  explicit TComPort(PlainMessage plainMessage,
                    std::unique_ptr<PortBackend> backend = MakePlatformBackend());
  ~TComPort();
  TComPort(const TComPort&) = delete;
  TComPort& operator=(const TComPort&) = delete;

  // Opens the path (closing the port held before) without configuring it; the port stays
  // held until the next Probe, Open or Close.
  bool Probe(const std::string& path);
  // Opens and configures the port; on failure shows "Ошибка открытия порта " + the port's
  // name. A failure after the handle was opened leaves the port open: callers Close it.
  bool Open(const std::string& path);
  // Why the last Probe or Open failed (no failure after one that succeeded).
  [[nodiscard]] const PortFailure& OpenFailure() const { return openFailure_; }
  bool OpenHandle(const std::string& path);
  bool SetSpeed(std::uint32_t baud);
  bool SetTimeouts(std::uint32_t timeoutMs);
  bool SetDtr(bool raise);
  void Close();
  [[nodiscard]] bool IsOpen() const;

  bool WriteByte(std::uint8_t byte);
  bool WriteBlock(const std::uint8_t* data, std::uint32_t count);
  // Reads a reply of one byte (the loader's answer to an image block). Sets TimedOut when no
  // byte came; never clears it.
  std::uint8_t ReadByte();

  // Frame: length L, 0x00, L payload bytes, check byte (sum of L and payload) XOR 0xFF.
  void SendFrame(const std::uint8_t* payload, std::uint8_t length);
  // Returns L, or 0 when any byte timed out or the check failed. buffer holds >= 255 bytes.
  unsigned ReceiveFrame(std::uint8_t* buffer);

  [[nodiscard]] std::uint32_t ActualBaud() const;

  bool TimedOut = false;

 private:
  // One byte of a reply that still needs `replyLeft` bytes, this one included; sets TimedOut
  // when no byte came. The port never reads past the reply it is told of.
  std::uint8_t ReadReplyByte(std::size_t replyLeft);

  PlainMessage plainMessage_;
  std::unique_ptr<PortBackend> backend_;
  PortFailure openFailure_;
};

// The name an operator knows a port by: the path without "//./" or "/dev/".
std::string PortNameOf(std::string_view path);
// The path that opens a named port: "//./COM3" on Windows, "/dev/ttyUSB0" elsewhere;
// a name that already is a path is kept.
std::string PortPathOf(std::string_view name);

}  // namespace quorvex
