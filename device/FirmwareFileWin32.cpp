#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "FirmwareFile.h"

namespace quorvex {
namespace {

struct Handle {
  HANDLE h;
  explicit Handle(HANDLE handle) : h(handle) {}
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

}  // namespace

FileStatus ReadFirmwareFile(const std::string& path, FileBytes& into, std::uint32_t* size) {
  if (size != nullptr) *size = 0;
  Handle file(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.h == INVALID_HANDLE_VALUE) return FileStatus::CannotOpen;
  if (::GetFileType(file.h) != FILE_TYPE_DISK) return FileStatus::CannotOpen;
  const DWORD end = ::SetFilePointer(file.h, 0, nullptr, FILE_END);
  if (end == INVALID_SET_FILE_POINTER) return FileStatus::WrongSize;
  if (size != nullptr) *size = end;
  if (end != kFileSize) return FileStatus::WrongSize;
  if (::SetFilePointer(file.h, 0, nullptr, FILE_BEGIN) != 0) return FileStatus::WrongSize;
  DWORD read = 0;
  if (!::ReadFile(file.h, into.data(), static_cast<DWORD>(into.size()), &read, nullptr) ||
      read != into.size()) {
    return FileStatus::WrongSize;  // fewer bytes than measured: refused like a wrong size
  }
  return FileStatus::Ok;
}

bool WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t count) {
  const std::string temp = path + ".tmp";
  {
    Handle file(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    if (!::WriteFile(file.h, data, static_cast<DWORD>(count), &written, nullptr) ||
        written != count || !::FlushFileBuffers(file.h)) {
      ::CloseHandle(file.h);
      file.h = INVALID_HANDLE_VALUE;
      ::DeleteFileA(temp.c_str());
      return false;
    }
  }
  if (!::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    ::DeleteFileA(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace quorvex
