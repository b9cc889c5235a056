#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <string_view>

#include "Hook.h"
#include "UniqueHandle.h"
#include "Utf16.h"

namespace quorvex::station {
namespace {

// How long, after the hook and its job have ended, a pipe's thread may take to notice.
constexpr DWORD kThreadGrace = 1000;

std::string WindowsErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring wide = length > 0 && text != nullptr ? std::wstring(text, length) : L"";
  if (text != nullptr) ::LocalFree(text);
  while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'.')) {
    wide.pop_back();
  }
  if (wide.empty()) return "error " + std::to_string(code);
  return Utf8FromWide(wide);
}

// One argument as the C runtime's parser (CommandLineToArgvW) gives it back: quoted when it
// holds blanks or quotes; backslashes doubled only where they come before a quote.
std::wstring QuotedArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  for (auto it = argument.begin();; ++it) {
    std::size_t backslashes = 0;
    while (it != argument.end() && *it == L'\\') {
      ++it;
      ++backslashes;
    }
    if (it == argument.end()) {
      quoted.append(backslashes * 2, L'\\');
      break;
    }
    if (*it == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    quoted.push_back(*it);
  }
  quoted.push_back(L'"');
  return quoted;
}

// The program's name is read up to the next blank, or between quotes, with no escapes.
std::wstring CommandLine(const std::vector<std::string>& argv) {
  const std::wstring program = WideFromUtf8(argv[0]);
  std::wstring line =
      program.find_first_of(L" \t") == std::wstring::npos ? program : L"\"" + program + L"\"";
  for (std::size_t i = 1; i < argv.size(); ++i)
    line += L" " + QuotedArgument(WideFromUtf8(argv[i]));
  return line;
}

std::wstring UpperName(std::wstring_view entry) {
  // "=C:=C:\dir" entries keep the current folder of each drive: the name is "=C:".
  const std::size_t equals = entry.find(L'=', 1);
  std::wstring name(entry.substr(0, equals));
  std::transform(name.begin(), name.end(), name.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
  return name;
}

// This process's environment with the hook's variables added (names compare without case,
// as Windows compares them), sorted by name as CreateProcess wants it; "A=1\0B=2\0\0".
std::wstring EnvironmentBlock(const std::vector<std::string>& extra) {
  std::vector<std::wstring> added;
  for (const std::string& entry : extra) added.push_back(WideFromUtf8(entry));
  std::vector<std::wstring> entries;
  if (wchar_t* block = ::GetEnvironmentStringsW(); block != nullptr) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      const std::wstring inherited(entry);
      const std::wstring name = UpperName(inherited);
      const bool replaced = std::any_of(
          added.begin(), added.end(), [&](const std::wstring& e) { return UpperName(e) == name; });
      if (!replaced) entries.push_back(inherited);
    }
    ::FreeEnvironmentStringsW(block);
  }
  entries.insert(entries.end(), added.begin(), added.end());
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& a, const auto& b) { return UpperName(a) < UpperName(b); });
  std::wstring result;
  for (const std::wstring& entry : entries) result.append(entry).push_back(L'\0');
  result.push_back(L'\0');
  if (entries.empty()) result.push_back(L'\0');
  return result;
}

struct InputWriter {
  HANDLE pipe;
  const std::string* input;
};

// Writes all of the input unless the hook stops reading it (the pipe breaks), then closes
// the pipe so that the hook sees its end.
DWORD WINAPI WriteInput(void* context) {
  const auto* writer = static_cast<InputWriter*>(context);
  std::size_t written = 0;
  while (written < writer->input->size()) {
    const DWORD chunk =
        static_cast<DWORD>(std::min<std::size_t>(writer->input->size() - written, 1 << 16));
    DWORD n = 0;
    if (::WriteFile(writer->pipe, writer->input->data() + written, chunk, &n, nullptr) == FALSE) {
      break;
    }
    written += n;
  }
  ::CloseHandle(writer->pipe);
  return 0;
}

struct ErrorReader {
  HANDLE pipe;
  std::string head;  // the first bytes; the rest is read and dropped
};

DWORD WINAPI ReadErrors(void* context) {
  auto* reader = static_cast<ErrorReader*>(context);
  char buffer[4096];
  DWORD n = 0;
  while (::ReadFile(reader->pipe, buffer, sizeof buffer, &n, nullptr) != FALSE && n > 0) {
    const std::size_t room = 4096 - std::min<std::size_t>(reader->head.size(), 4096);
    reader->head.append(buffer, std::min<std::size_t>(room, n));
  }
  return 0;
}

// Waits for a pipe's thread; one still blocked in a read or write after the grace time has
// that call cancelled.
void Finish(const UniqueHandle& thread) {
  if (!thread.Valid()) return;
  if (::WaitForSingleObject(thread.Get(), kThreadGrace) != WAIT_OBJECT_0) {
    ::CancelSynchronousIo(thread.Get());
    ::WaitForSingleObject(thread.Get(), INFINITE);
  }
}

}  // namespace

HookOutcome RunHook(const std::vector<std::string>& argv, const std::string& input,
                    const std::vector<std::string>& environment, std::chrono::milliseconds limit) {
  HookOutcome outcome;
  outcome.limit = limit;
  if (argv.empty() || argv[0].empty()) {
    outcome.error = "no command";
    return outcome;
  }
  const auto failed = [&](const char* what) {
    outcome.error = std::string(what) + ": " + WindowsErrorText(::GetLastError());
    return outcome;
  };

  // The hook's ends of the pipes and NUL are inherited, and only those (the handle list):
  // a hook another slot starts at the same moment must not get them too.
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE inRead = nullptr;
  HANDLE inWrite = nullptr;
  if (::CreatePipe(&inRead, &inWrite, &inheritable, 0) == FALSE) return failed("stdin pipe");
  UniqueHandle stdinRead(inRead);
  UniqueHandle stdinWrite(inWrite);
  HANDLE errRead = nullptr;
  HANDLE errWrite = nullptr;
  if (::CreatePipe(&errRead, &errWrite, &inheritable, 0) == FALSE) return failed("stderr pipe");
  UniqueHandle stderrRead(errRead);
  UniqueHandle stderrWrite(errWrite);
  ::SetHandleInformation(stdinWrite.Get(), HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(stderrRead.Get(), HANDLE_FLAG_INHERIT, 0);
  const UniqueHandle nul(::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inheritable, OPEN_EXISTING, 0, nullptr));
  if (!nul.Valid()) return failed("NUL");

  HANDLE inherited[] = {stdinRead.Get(), nul.Get(), stderrWrite.Get()};
  SIZE_T attributeBytes = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeBytes);
  std::string attributeStorage(attributeBytes, '\0');
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeStorage.data());
  if (::InitializeProcThreadAttributeList(attributes, 1, 0, &attributeBytes) == FALSE) {
    return failed("attribute list");
  }
  struct AttributeList {
    LPPROC_THREAD_ATTRIBUTE_LIST list;
    ~AttributeList() { ::DeleteProcThreadAttributeList(list); }
  } attributeList{attributes};
  if (::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                  sizeof inherited, nullptr, nullptr) == FALSE) {
    return failed("handle list");
  }

  // Everything the hook starts is in its job; closing the job's last handle ends them all.
  const UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job.Valid()) return failed("job object");
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                                sizeof limits) == FALSE) {
    return failed("job object");
  }

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = stdinRead.Get();
  startup.StartupInfo.hStdOutput = nul.Get();
  startup.StartupInfo.hStdError = stderrWrite.Get();
  startup.lpAttributeList = attributes;
  std::wstring line = CommandLine(argv);
  std::wstring block = EnvironmentBlock(environment);
  PROCESS_INFORMATION process{};
  // Suspended until it is in its job, so that nothing it starts can escape the job. No
  // console window of its own on a station whose window has none.
  const DWORD flags = CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED | CREATE_NO_WINDOW |
                      EXTENDED_STARTUPINFO_PRESENT;
  if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, block.data(), nullptr,
                       &startup.StartupInfo, &process) == FALSE) {
    outcome.error = argv[0] + ": " + WindowsErrorText(::GetLastError());
    return outcome;
  }
  const auto started = std::chrono::steady_clock::now();
  const UniqueHandle child(process.hProcess);
  const UniqueHandle mainThread(process.hThread);
  // Without the job (the system refuses it), the limit still ends the hook itself.
  const bool inJob = ::AssignProcessToJobObject(job.Get(), child.Get()) != FALSE;
  ::ResumeThread(mainThread.Get());
  outcome.started = true;
  (void)stdinRead.Close();  // the hook's ends are the hook's now
  (void)stderrWrite.Close();

  InputWriter writer{stdinWrite.Get(), &input};
  ErrorReader reader{stderrRead.Get(), {}};
  const UniqueHandle writerThread(::CreateThread(nullptr, 0, WriteInput, &writer, 0, nullptr));
  if (writerThread.Valid()) {
    (void)stdinWrite.Release();  // the writer closes it
  } else {
    (void)stdinWrite.Close();  // no input, then: the hook sees its end at once
  }
  const UniqueHandle readerThread(::CreateThread(nullptr, 0, ReadErrors, &reader, 0, nullptr));

  const auto left = std::chrono::ceil<std::chrono::milliseconds>(
      limit - (std::chrono::steady_clock::now() - started));
  const DWORD wait = static_cast<DWORD>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
  if (::WaitForSingleObject(child.Get(), wait) != WAIT_OBJECT_0) {
    outcome.timedOut = true;
    if (!inJob || ::TerminateJobObject(job.Get(), 1) == FALSE) ::TerminateProcess(child.Get(), 1);
    ::WaitForSingleObject(child.Get(), kThreadGrace);
  }
  // What it left running ends with it, as on closing the job.
  if (inJob) ::TerminateJobObject(job.Get(), 1);
  DWORD exitCode = 0;
  if (::GetExitCodeProcess(child.Get(), &exitCode) != FALSE && exitCode != STILL_ACTIVE) {
    outcome.exitCode = static_cast<int>(exitCode);
  }
  Finish(writerThread);
  Finish(readerThread);
  outcome.stderrLine = FirstStderrLine(reader.head);
  return outcome;
}

}  // namespace quorvex::station
