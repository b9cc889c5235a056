#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "PortOpenError.h"

namespace quorvex {

// What TComPort needs of one platform's serial interface. The platform back end
// (POSIX or Win32, chosen by the build) implements it; tests and fuzz targets give
// TComPort a scripted one instead, so the framing and the device code run unchanged.
class PortBackend {
 public:
  virtual ~PortBackend() = default;

  // Opens an existing port by path for exclusive use; closes whatever was open first. Says
  // why when it cannot.
  virtual PortFailure OpenExclusive(const std::string& path) = 0;
  // Queue sizes and the abort of pending writes; failures do no harm.
  virtual void PrepareQueues() = 0;
  // Drops whatever has arrived and not been read: a reply that came after its time-out, or a
  // stray byte, must never be read as the answer to the next request. Failures do no harm.
  virtual void DiscardInput() {}
  // Baud rate, 8 data bits, no parity, one stop bit; every other setting as the port reports it.
  virtual bool SetLine(std::uint32_t baud) = 0;
  // A one-byte read waits at most timeout + 1 ms; a write of n bytes at most n + timeout ms.
  virtual bool SetTimeouts(std::uint32_t timeoutMs) = 0;
  virtual bool SetDtr(bool raise) = 0;
  virtual void Close() = 0;
  [[nodiscard]] virtual bool IsOpen() const = 0;

  // Blocking write; returns whether every byte was handed to the port in time.
  virtual bool Write(const std::uint8_t* data, std::size_t count) = 0;
  // Writes the bytes as that many one-byte writes would: each byte has its own time-out
  // (timeout + 1 ms from when the byte before it was handed over or given up), and a byte
  // that cannot be written is left out without stopping the ones after it. Returns whether
  // every byte was handed over. Here one Write a byte; a back end whose port takes several
  // bytes in one call may hand them over together.
  virtual bool WriteEachByte(const std::uint8_t* data, std::size_t count) {
    bool all = true;
    for (std::size_t i = 0; i < count; ++i) all = Write(data + i, 1) && all;
    return all;
  }
  // Blocking one-byte read; false when no byte came (time-out, no port, line error).
  // `replyLeft` is how many bytes the reply being read still needs, this one included (at
  // least 1). A back end may take up to that many from the line in one read and hand them
  // out one by one, each as one call; it never takes more, so a byte of the next reply, or a
  // stray one, stays in the line until a read for that reply comes.
  virtual bool ReadByte(std::uint8_t& byte, std::size_t replyLeft) = 0;

  // The rate the driver actually runs after SetLine (0 when unknown).
  [[nodiscard]] virtual std::uint32_t ActualBaud() const { return 0; }
};

// The back end of the platform this program was built for.
std::unique_ptr<PortBackend> MakePlatformBackend();

}  // namespace quorvex
