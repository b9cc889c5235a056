// This machine's name and the user's login name on Windows, for the audit record.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <string_view>

#include "AuditLog.h"
#include "Utf16.h"

namespace quorvex::cli {

std::string HostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  return ::GetComputerNameW(name, &length) != FALSE ? Utf8FromWide(std::wstring_view(name, length))
                                                    : std::string();
}

std::string UserName() {
  wchar_t name[256];
  const DWORD length = ::GetEnvironmentVariableW(L"USERNAME", name, 256);
  return length > 0 && length < 256 ? Utf8FromWide(std::wstring_view(name, length)) : std::string();
}

}  // namespace quorvex::cli
