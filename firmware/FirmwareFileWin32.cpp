#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "FirmwareFile.h"
#include "UniqueHandle.h"
#include "Utf16.h"

namespace quorvex {
FileStatus ReadFirmwareFile(const std::string& path, FileBytes& into, std::uint32_t* size) {
  if (size != nullptr) *size = 0;
  // The path is UTF-8; the wide call opens any name, Cyrillic folders included. Others may
  // read the file meanwhile: every port's run of one command opens it at the same moment,
  // and a virus scanner or an editor may hold it. Nobody may write it while it is read.
  const UniqueHandle file(::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return FileStatus::CannotOpen;
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK) return FileStatus::CannotOpen;
  const DWORD end = ::SetFilePointer(file.Get(), 0, nullptr, FILE_END);
  if (end == INVALID_SET_FILE_POINTER) return FileStatus::WrongSize;
  if (size != nullptr) *size = end;
  if (end != kFileSize) return FileStatus::WrongSize;
  if (::SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN) != 0) return FileStatus::WrongSize;
  DWORD read = 0;
  if (!::ReadFile(file.Get(), into.data(), static_cast<DWORD>(into.size()), &read, nullptr) ||
      read != into.size()) {
    return FileStatus::WrongSize;  // fewer bytes than measured: refused like a wrong size
  }
  return FileStatus::Ok;
}

}  // namespace quorvex
