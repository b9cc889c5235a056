// The audit record names the account the program runs as, not what the environment claims:
// a script or a scheduled task may set the variable to anything.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "AuditLog.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace quorvex::cli {
namespace {

constexpr const char* kClaimed = "someone-else";

// The variable each system's shells set to the login name.
void ClaimUser() {
#ifdef _WIN32
  ASSERT_NE(::SetEnvironmentVariableW(L"USERNAME", L"someone-else"), FALSE);
#else
  ASSERT_EQ(::setenv("USER", kClaimed, 1), 0);
#endif
}

TEST(AuditUserTest, TheAccountNotTheVariable) {
  ClaimUser();
  const std::string user = UserName();
  EXPECT_FALSE(user.empty());
  EXPECT_NE(user, kClaimed);
}

}  // namespace
}  // namespace quorvex::cli
