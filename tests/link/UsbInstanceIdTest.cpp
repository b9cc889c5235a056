// The Windows instance ids of USB adapters, read as the port identity reads them: the ids and
// serial number of one id, and which node of a port's chain is the USB device.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "UsbInstanceId.h"

namespace quorvex::test {
namespace {

struct ParseCase {
  const char* name;
  const char* id;
  bool usb;
  const char* vid;
  const char* pid;
  const char* serial;
  bool isInterface;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class ParseUsbInstanceIdTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseUsbInstanceIdTest, IdsAndSerial) {
  const ParseCase& c = GetParam();
  const std::optional<UsbInstanceId> parsed = ParseUsbInstanceId(c.id);
  ASSERT_EQ(parsed.has_value(), c.usb);
  if (!parsed) return;
  EXPECT_EQ(parsed->vid, c.vid);
  EXPECT_EQ(parsed->pid, c.pid);
  EXPECT_EQ(parsed->serial, c.serial);
  EXPECT_EQ(parsed->isInterface, c.isInterface);
}

INSTANTIATE_TEST_SUITE_P(
    Ids, ParseUsbInstanceIdTest,
    ::testing::ValuesIn(std::vector<ParseCase>{
        {"Device", R"(USB\VID_0403&PID_6001\A10K3Z9Q)", true, "0403", "6001", "A10K3Z9Q", false},
        {"HexInLowerCase", R"(USB\VID_10C4&PID_EA60\0001)", true, "10c4", "ea60", "0001", false},
        {"NoSerialNumber", R"(USB\VID_1A86&PID_7523\5&1C6F2A3B&0&2)", true, "1a86", "7523", "",
         false},
        {"InterfaceOfCompositeDevice", R"(USB\VID_2341&PID_8036&MI_00\6&2A3B4C5D&0&0000)", true,
         "2341", "8036", "", true},
        // Only the device above an interface carries the serial number, whatever the
        // interface's last part looks like.
        {"InterfaceWithPlainLastPart", R"(USB\VID_0483&PID_5740&MI_01\0000)", true, "0483", "5740",
         "", true},
        {"TruncatedIds", R"(USB\VID_04\X)", true, "", "", "X", false},
        {"NoHexDigits", R"(USB\VID_ZZZZ&PID_6001\S1)", true, "", "6001", "S1", false},
        {"NoSerialPart", R"(USB\ROOT_HUB30)", false, "", "", "", false},
        {"VendorDriversPort", R"(FTDIBUS\VID_0403+PID_6001+A10K3Z9QA\0000)", false, "", "", "",
         false},
        {"BoardUart", R"(ACPI\PNP0501\0)", false, "", "", "", false},
    }),
    [](const auto& info) { return std::string(info.param.name); });

struct ChainCase {
  const char* name;
  std::vector<std::string> ids;  // the port's node first, then the nodes above it
  std::optional<std::size_t> device;
  const char* serial;  // of the device found
};

void PrintTo(const ChainCase& c, std::ostream* os) { *os << c.name; }

class UsbDeviceInChainTest : public ::testing::TestWithParam<ChainCase> {};

TEST_P(UsbDeviceInChainTest, NodeWithTheSerialNumber) {
  const ChainCase& c = GetParam();
  const std::optional<std::size_t> device = UsbDeviceInChain(c.ids);
  ASSERT_EQ(device, c.device);
  if (!device) return;
  const std::optional<UsbInstanceId> parsed = ParseUsbInstanceId(c.ids[*device]);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->serial, c.serial);
}

INSTANTIATE_TEST_SUITE_P(
    Chains, UsbDeviceInChainTest,
    ::testing::ValuesIn(std::vector<ChainCase>{
        {"ModemIsTheDevice",
         {R"(USB\VID_2341&PID_0043\85736323838351F0E1A1)", R"(USB\ROOT_HUB30\4&2B7E1F3&0&0)"},
         0,
         "85736323838351F0E1A1"},
        {"VendorDriverBelowTheDevice",
         {R"(FTDIBUS\VID_0403+PID_6001+A10K3Z9QA\0000)", R"(USB\VID_0403&PID_6001\A10K3Z9Q)",
          R"(USB\ROOT_HUB30\4&2B7E1F3&0&0)"},
         1,
         "A10K3Z9Q"},
        {"ModemOnInterfaceOfCompositeDevice",
         {R"(USB\VID_2341&PID_8036&MI_00\6&2A3B4C5D&0&0000)", R"(USB\VID_2341&PID_8036\HIDPC7)",
          R"(USB\ROOT_HUB30\4&2B7E1F3&0&0)"},
         1,
         "HIDPC7"},
        {"VendorDriverOnInterfaceOfCompositeDevice",
         {R"(FTDIBUS\VID_0403+PID_6010+FT4ZQ1A\0000)",
          R"(USB\VID_0403&PID_6010&MI_00\7&1F2E3D4C&0&0000)", R"(USB\VID_0403&PID_6010\FT4ZQ1)"},
         2,
         "FT4ZQ1"},
        // Nothing above the interface could be read: its ids, and no serial number made up.
        {"InterfaceAlone", {R"(USB\VID_2341&PID_8036&MI_00\6&2A3B4C5D&0&0000)"}, 0, ""},
        {"BoardUart",
         {R"(ACPI\PNP0501\0)", R"(ACPI\PNP0A08\0)", R"(ACPI_HAL\PNP0C08\0)"},
         std::nullopt,
         ""},
        // A USB hub two levels up does not make a board's port a USB adapter.
        {"UsbOnlyFarAbove",
         {R"(ACPI\PNP0501\0)", R"(PCI\VEN_8086&DEV_A36D\3&11583659&0&A0)",
          R"(USB\VID_0403&PID_6001\A10K3Z9Q)"},
         std::nullopt,
         ""},
        {"NoIdsRead", {}, std::nullopt, ""},
    }),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex::test
