// The append-only file on Windows: a handle opened with FILE_APPEND_DATA only, so that each
// WriteFile lands whole at the end of the file, whoever else appends.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "AppendFile.h"
#include "UniqueHandle.h"
#include "Utf16.h"

namespace quorvex {
namespace {

class Win32AppendFile final : public AppendFile {
 public:
  explicit Win32AppendFile(UniqueHandle handle) : handle_(std::move(handle)) {}

  bool Append(const std::string& line, std::string* error) override {
    // One write is the normal path; a short one is continued, so the line keeps its line feed.
    std::string_view rest = line;
    while (!rest.empty()) {
      DWORD written = 0;
      if (::WriteFile(handle_.Get(), rest.data(), static_cast<DWORD>(rest.size()), &written,
                      nullptr) == FALSE) {
        *error = "Windows error " + std::to_string(::GetLastError());
        return false;
      }
      if (written == 0) {
        *error = "nothing written";
        return false;
      }
      rest.remove_prefix(written);
    }
    // On the disk before the run is reported ended; a pipe or a console needs no flushing.
    if (::GetFileType(handle_.Get()) == FILE_TYPE_DISK &&
        ::FlushFileBuffers(handle_.Get()) == FALSE) {
      *error = "Windows error " + std::to_string(::GetLastError());
      return false;
    }
    return true;
  }

 private:
  UniqueHandle handle_;
};

}  // namespace

std::unique_ptr<AppendFile> OpenAppendFile(const std::string& path, std::string* error) {
  UniqueHandle handle(::CreateFileW(WideFromUtf8(path).c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle.Valid()) {
    *error = "Windows error " + std::to_string(::GetLastError());
    return nullptr;
  }
  return std::make_unique<Win32AppendFile>(std::move(handle));
}

}  // namespace quorvex
