// quorvex-cli shows UTF-8 in the console while it runs, and leaves the console's input and
// output code pages as it found them, whichever way it ends. The test and the program share
// one console, so the test reads the pages the program left.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UniqueHandle.h"

namespace quorvex::test {
namespace {

constexpr UINT kInputPage = 866;   // a Russian console's own pages
constexpr UINT kOutputPage = 437;  // (different, so that a swap shows)

std::wstring Sibling(const wchar_t* fileName) {
  std::vector<wchar_t> path(32'768);
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  std::wstring self(path.data(), length);
  return self.substr(0, self.find_last_of(L"\\/") + 1) + fileName;
}

struct WayOut {
  const char* name;
  std::wstring arguments;
};

void PrintTo(const WayOut& c, std::ostream* os) { *os << c.name; }

class ConsoleCodePagesTest : public ::testing::TestWithParam<WayOut> {
 protected:
  void SetUp() override {
    // Under Wine a console is there when the program runs on a terminal (script(1) makes one).
    ASSERT_NE(::SetConsoleCP(kInputPage), FALSE) << "no console to run in";
    ASSERT_NE(::SetConsoleOutputCP(kOutputPage), FALSE);
  }
};

TEST_P(ConsoleCodePagesTest, PagesPutBack) {
  const WayOut& c = GetParam();
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const UniqueHandle nul(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                       0, nullptr));
  ASSERT_TRUE(nul.Valid());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;  // the console stays attached; the text goes to NUL
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.Get();
  std::wstring line = L"\"" + Sibling(L"quorvex-cli.exe") + L"\" " + c.arguments;
  PROCESS_INFORMATION process{};
  ASSERT_NE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &process),
            FALSE);
  const UniqueHandle child(process.hProcess);
  const UniqueHandle thread(process.hThread);

  ASSERT_EQ(::WaitForSingleObject(child.Get(), 20'000), WAIT_OBJECT_0);
  EXPECT_EQ(::GetConsoleCP(), kInputPage);
  EXPECT_EQ(::GetConsoleOutputCP(), kOutputPage);
}

INSTANTIATE_TEST_SUITE_P(WaysOut, ConsoleCodePagesTest,
                         ::testing::ValuesIn(std::vector<WayOut>{
                             {"Done", L"--version"},
                             {"BadArguments", L"--no-such-option"},
                             {"UnusableFile", L"inspect no-such-file.fls"},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex::test
