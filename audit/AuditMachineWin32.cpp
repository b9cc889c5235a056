// This machine's name and the user's login name on Windows, for the audit record.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first: lmcons.h needs its types.
#include <lmcons.h>

#include <string>
#include <string_view>

#include "AuditLog.h"
#include "Utf16.h"

namespace quorvex {

std::string HostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  return ::GetComputerNameW(name, &length) != FALSE ? Utf8FromWide(std::wstring_view(name, length))
                                                    : std::string();
}

// The account the process runs as, as on Linux: %USERNAME% is only what the environment
// says, and a script or a scheduled task may set it to anything. The variable is the
// fall-back for a system that cannot name the account.
std::string UserName() {
  wchar_t name[UNLEN + 1];
  DWORD length = UNLEN + 1;  // in: the room; out: the characters with the terminating null
  if (::GetUserNameW(name, &length) != FALSE && length > 1) {
    return Utf8FromWide(std::wstring_view(name, length - 1));
  }
  const DWORD variable = ::GetEnvironmentVariableW(L"USERNAME", name, UNLEN + 1);
  return variable > 0 && variable <= UNLEN ? Utf8FromWide(std::wstring_view(name, variable))
                                           : std::string();
}

}  // namespace quorvex
