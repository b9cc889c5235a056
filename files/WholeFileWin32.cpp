#include <windows.h>

#include <atomic>
#include <string>

#include "UniqueHandle.h"
#include "Utf16.h"
#include "WholeFile.h"

namespace quorvex {
namespace {

// A name no other writer uses: the process, a counter for its threads, and CREATE_NEW for
// whatever else may lie in the folder.
HANDLE CreateTemporary(const std::wstring& path, std::wstring& temporary) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = path + L".tmp-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(counter++);
    const HANDLE handle = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return handle;
  }
  return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE handle, const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    const DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!::WriteFile(handle, data, chunk, &written, nullptr)) return false;
    if (written == 0) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    data += written;
    count -= written;
  }
  return true;
}

// Replaces an existing target; WRITE_THROUGH returns only once the move is on the disk. While
// another program has the target open for a moment (a second writer's own replace, a virus
// scanner, the indexer) Windows refuses the replace; it is tried again for up to a second.
DWORD MoveOver(const std::wstring& temporary, const std::wstring& target) {
  for (int attempt = 0;; ++attempt) {
    if (::MoveFileExW(temporary.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return 0;
    }
    const DWORD failure = ::GetLastError();
    const bool busy = failure == ERROR_ACCESS_DENIED || failure == ERROR_SHARING_VIOLATION;
    if (!busy || attempt == 100) return failure;
    ::Sleep(10);
  }
}

bool Fail(std::error_code* error, DWORD code) {
  if (error != nullptr) *error = std::error_code(static_cast<int>(code), std::system_category());
  return false;
}

}  // namespace

bool WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t count,
                    std::error_code* error) {
  const std::wstring target = WideFromUtf8(path);  // UTF-8 inside, UTF-16 at the system
  std::wstring temporary;
  UniqueHandle file(CreateTemporary(target, temporary));
  if (!file.Valid()) return Fail(error, ::GetLastError());

  DWORD failure = 0;
  if (!WriteAll(file.Get(), data, count) || !::FlushFileBuffers(file.Get())) {
    failure = ::GetLastError();
  }
  if (!file.Close() && failure == 0) failure = ::GetLastError();
  if (failure == 0) failure = MoveOver(temporary, target);
  if (failure != 0) {
    ::DeleteFileW(temporary.c_str());
    return Fail(error, failure);
  }
  if (error != nullptr) error->clear();
  return true;
}

}  // namespace quorvex
