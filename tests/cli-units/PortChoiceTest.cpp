// A port named twice is refused before anything is opened, however the two names are spelt.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Commands.h"
#include "ExitCode.h"
#include "PortChoice.h"
#include "TempFolder.h"

namespace quorvex::cli {
namespace {

struct TwoNamesCase {
  const char* name;
  std::string first;
  std::string second;
  bool samePort;
};

void PrintTo(const TwoNamesCase& c, std::ostream* os) { *os << c.name; }

class TwoNamesTest : public ::testing::TestWithParam<TwoNamesCase> {};

TEST_P(TwoNamesTest, SamePortRefused) {
  const TwoNamesCase& c = GetParam();
  // A link and what it points to: a file stands for the device, which canonical() resolves.
  test::TempFolder folder{"quorvex-ports"};
  const std::filesystem::path target = folder.Path() / "ttyTARGET";
  const auto substitute = [&](const std::string& name) {
    if (name == "TARGET") return target.string();
    if (name == "LINK") return (folder.Path() / "ttyLINK").string();
    return name;
  };
#ifndef _WIN32
  { std::ofstream touch(target); }
  std::filesystem::create_symlink(target, folder.Path() / "ttyLINK");
#endif
  GlobalOptions options;
  options.ports = {substitute(c.first), substitute(c.second)};
  std::vector<Target> targets;
  EXPECT_EQ(ChooseTargets(options, &targets), c.samePort ? kExitBadInput : kExitDone);
  EXPECT_EQ(targets.size(), c.samePort ? 1u : 2u);
}

// The rows of this system: how port names are spelt differs between the two.
const std::vector<TwoNamesCase> kTwoNames{
#ifdef _WIN32
    // Device names are case-insensitive and both path forms open the same device.
    {"SameName", "COM3", "COM3", true},
    {"OtherCase", "COM3", "com3", true},
    {"BackslashPath", "COM3", R"(\\.\COM3)", true},
    {"SlashPathFirst", "//./COM3", "COM3", true},
    {"BothPathsMixedCase", R"(\\.\com3)", "//./Com3", true},
    {"OtherPort", "COM3", "COM4", false},
    {"LongerNumber", "COM1", "COM10", false},
#else
    {"SameName", "ttyUSB0", "ttyUSB0", true},
    {"NameAndPath", "ttyUSB0", "/dev/ttyUSB0", true},
    {"LinkAndTarget", "LINK", "TARGET", true},
    // Names are case-sensitive here: two devices may differ in case alone.
    {"OtherCase", "ttyUSB0", "ttyusb0", false},
    {"OtherPort", "ttyUSB0", "ttyUSB1", false},
#endif
};

INSTANTIATE_TEST_SUITE_P(Names, TwoNamesTest, ::testing::ValuesIn(kTwoNames),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex::cli
