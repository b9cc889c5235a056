// The serial port on Windows: the synchronous Win32 communications API, with the port's
// own time-outs bounding every read and write.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <utility>

#include "PortBackend.h"
#include "UniqueHandle.h"
#include "Utf16.h"

namespace quorvex {
namespace {

class Win32Backend final : public PortBackend {
 public:
  ~Win32Backend() override { Close(); }

  PortFailure OpenExclusive(const std::string& path) override {
    Close();
    UniqueHandle handle(::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.Valid()) return PortFailureFromWin32(::GetLastError());
    handle_ = std::move(handle);
    return {};
  }

  void PrepareQueues() override {
    (void)::SetupComm(handle_.Get(), 512, 512);
    (void)::PurgeComm(handle_.Get(), PURGE_TXABORT);
  }

  void DiscardInput() override {
    if (handle_.Valid()) (void)::PurgeComm(handle_.Get(), PURGE_RXCLEAR);
  }

  bool SetLine(std::uint32_t baud) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    (void)::GetCommState(handle_.Get(), &dcb);  // a failure leaves the record as it is
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    if (!::SetCommState(handle_.Get(), &dcb)) return false;
    DCB back{};
    back.DCBlength = sizeof back;
    actualBaud_ = ::GetCommState(handle_.Get(), &back) ? back.BaudRate : 0;
    return true;
  }

  bool SetTimeouts(std::uint32_t timeoutMs) override {
    COMMTIMEOUTS timeouts{};
    (void)::GetCommTimeouts(handle_.Get(), &timeouts);
    timeouts.ReadIntervalTimeout = 100;
    timeouts.ReadTotalTimeoutMultiplier = 1;
    timeouts.ReadTotalTimeoutConstant = timeoutMs;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = timeoutMs;
    return ::SetCommTimeouts(handle_.Get(), &timeouts) != FALSE;
  }

  bool SetDtr(bool raise) override {
    return ::EscapeCommFunction(handle_.Get(), raise ? SETDTR : CLRDTR) != FALSE;
  }

  void Close() override {
    (void)handle_.Close();
    actualBaud_ = 0;
  }

  [[nodiscard]] bool IsOpen() const override { return handle_.Valid(); }

  bool Write(const std::uint8_t* data, std::size_t count) override {
    if (!handle_.Valid()) return false;
    DWORD transferred = 0;
    const BOOL ok =
        ::WriteFile(handle_.Get(), data, static_cast<DWORD>(count), &transferred, nullptr);
    if (ok == FALSE) CloseIfGone();
    return ok != FALSE && transferred == count;
  }

  // One byte a ReadFile, whatever the reply still needs: the port's own time-outs are set for
  // one-byte reads.
  bool ReadByte(std::uint8_t& byte, std::size_t /*replyLeft*/) override {
    if (!handle_.Valid()) return false;
    DWORD transferred = 0;
    if (::ReadFile(handle_.Get(), &byte, 1, &transferred, nullptr) == FALSE) CloseIfGone();
    return transferred == 1;
  }

  [[nodiscard]] std::uint32_t ActualBaud() const override { return actualBaud_; }

 private:
  // A read or write failed: after a line error (a framing error with abort-on-error set) the
  // port only needs its errors cleared; when even that fails the device is gone (the adapter
  // pulled out), and the port is closed at once, so that opening its name again can work.
  void CloseIfGone() {
    DWORD errors = 0;
    if (::ClearCommError(handle_.Get(), &errors, nullptr) == FALSE) Close();
  }

  UniqueHandle handle_;
  std::uint32_t actualBaud_ = 0;
};

}  // namespace

std::unique_ptr<PortBackend> MakePlatformBackend() { return std::make_unique<Win32Backend>(); }

}  // namespace quorvex
