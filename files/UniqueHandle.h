#pragma once

// Owns one Win32 handle and closes it when it goes, on every way out. Windows only.
#ifdef _WIN32
#include <windows.h>

#include <utility>

namespace quorvex {

// The Win32 calls disagree on what "no handle" is: CreateFile fails with
// INVALID_HANDLE_VALUE, others with a null handle. Both mean empty here.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { (void)Close(); }
  UniqueHandle(UniqueHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      (void)Close();
      handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  [[nodiscard]] HANDLE Get() const { return handle_; }
  // Gives the handle up to whoever closes it now (a thread that owns it, say).
  [[nodiscard]] HANDLE Release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
  [[nodiscard]] bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  // Closes the handle now and reports whether CloseHandle succeeded: for a file just
  // written, a failed close can be the first sign that the data did not reach the disk.
  [[nodiscard]] bool Close() {
    const HANDLE handle = std::exchange(handle_, INVALID_HANDLE_VALUE);
    return handle == INVALID_HANDLE_VALUE || handle == nullptr || ::CloseHandle(handle) != FALSE;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace quorvex
#endif
