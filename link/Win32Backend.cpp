// The serial port on Windows: the synchronous Win32 communications API, with the port's
// own time-outs bounding every read and write.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "PortBackend.h"
#include "Utf16.h"

namespace quorvex {
namespace {

class Win32Backend final : public PortBackend {
 public:
  ~Win32Backend() override { Close(); }

  PortFailure OpenExclusive(const std::string& path) override {
    Close();
    HANDLE handle = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return PortFailureFromWin32(::GetLastError());
    handle_ = handle;
    return {};
  }

  void PrepareQueues() override {
    (void)::SetupComm(handle_, 512, 512);
    (void)::PurgeComm(handle_, PURGE_TXABORT);
  }

  bool SetLine(std::uint32_t baud) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    (void)::GetCommState(handle_, &dcb);  // a failure leaves the record as it is
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    if (!::SetCommState(handle_, &dcb)) return false;
    DCB back{};
    back.DCBlength = sizeof back;
    actualBaud_ = ::GetCommState(handle_, &back) ? back.BaudRate : 0;
    return true;
  }

  bool SetTimeouts(std::uint32_t timeoutMs) override {
    COMMTIMEOUTS timeouts{};
    (void)::GetCommTimeouts(handle_, &timeouts);
    timeouts.ReadIntervalTimeout = 100;
    timeouts.ReadTotalTimeoutMultiplier = 1;
    timeouts.ReadTotalTimeoutConstant = timeoutMs;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = timeoutMs;
    return ::SetCommTimeouts(handle_, &timeouts) != FALSE;
  }

  bool SetDtr(bool raise) override {
    return ::EscapeCommFunction(handle_, raise ? SETDTR : CLRDTR) != FALSE;
  }

  void Close() override {
    if (handle_ == nullptr) return;
    ::CloseHandle(handle_);
    handle_ = nullptr;
    actualBaud_ = 0;
  }

  [[nodiscard]] bool IsOpen() const override { return handle_ != nullptr; }

  bool Write(const std::uint8_t* data, std::size_t count) override {
    if (handle_ == nullptr) return false;
    DWORD transferred = 0;
    const BOOL ok = ::WriteFile(handle_, data, static_cast<DWORD>(count), &transferred, nullptr);
    return ok != FALSE && transferred == count;
  }

  bool ReadByte(std::uint8_t& byte) override {
    if (handle_ == nullptr) return false;
    DWORD transferred = 0;
    (void)::ReadFile(handle_, &byte, 1, &transferred, nullptr);
    return transferred == 1;
  }

  [[nodiscard]] std::uint32_t ActualBaud() const override { return actualBaud_; }

 private:
  HANDLE handle_ = nullptr;
  std::uint32_t actualBaud_ = 0;
};

}  // namespace

std::unique_ptr<PortBackend> MakePlatformBackend() { return std::make_unique<Win32Backend>(); }

}  // namespace quorvex
