// The USB identity of ports, read through libudev from device trees that umockdev stages. This
// suite runs under umockdev-wrapper (it starts itself so), whose preloaded library shows it and
// the quorvex-cli it starts the staged /sys and /dev instead of the machine's.
#include <gtest/gtest.h>
#include <umockdev.h>

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "Processes.h"

namespace quorvex::test {
namespace {

using nlohmann::json;

struct Adapter {
  const char* tty;
  const char* bus;  // its place on the USB bus
  const char* vid;
  const char* pid;
  const char* serial;  // nullptr: the adapter reports none
  const char* manufacturer;
  const char* product;
};

// A bench: an FTDI-like and a CP210x-like adapter, two adapters that report one serial
// number, a cheap adapter with no serial number at all, and a built-in UART on the board, with
// no USB above it.
const std::vector<Adapter> kAdapters = {
    {"ttyUSB0", "1-1", "0403", "6001", "A10K3Z9Q", "FTDI", "FT232R USB UART"},
    {"ttyUSB1", "1-2", "10C4", "EA60", "0001", "Silicon Labs", "CP2102 USB to UART Bridge"},
    {"ttyUSB2", "1-3", "0403", "6001", "SAME42", "FTDI", "FT232R USB UART"},
    {"ttyUSB3", "1-4", "0403", "6001", "SAME42", "FTDI", "FT232R USB UART"},
    {"ttyUSB4", "1-5", "1a86", "7523", nullptr, "", "USB Serial"},
};

class UsbIdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The staged tree goes into UMOCKDEV_DIR, which the children inherit.
    testbed_ = umockdev_testbed_new();
    for (const Adapter& a : kAdapters) {
      gchar* usb = umockdev_testbed_add_device(
          testbed_, "usb", a.bus, nullptr, "idVendor", a.vid, "idProduct", a.pid, "manufacturer",
          a.manufacturer, "product", a.product, nullptr, "DEVTYPE", "usb_device", nullptr);
      if (a.serial != nullptr) umockdev_testbed_set_attribute(testbed_, usb, "serial", a.serial);
      const std::string interfaceName = std::string(a.bus) + ":1.0";
      gchar* interface = umockdev_testbed_add_device(testbed_, "usb", interfaceName.c_str(), usb,
                                                     nullptr, "DEVTYPE", "usb_interface", nullptr);
      gchar* serial =
          umockdev_testbed_add_device(testbed_, "usb-serial", a.tty, interface, nullptr, nullptr);
      const std::string node = std::string("/dev/") + a.tty;
      g_free(umockdev_testbed_add_device(testbed_, "tty", a.tty, serial, nullptr, "DEVNAME",
                                         node.c_str(), nullptr));
      g_free(serial);
      g_free(interface);
      g_free(usb);
    }
    gchar* board = umockdev_testbed_add_device(testbed_, "pnp", "00:05", nullptr, nullptr, nullptr);
    g_free(umockdev_testbed_add_device(testbed_, "tty", "ttyS4", board, nullptr, "DEVNAME",
                                       "/dev/ttyS4", nullptr));
    g_free(board);
  }
  void TearDown() override { g_object_unref(testbed_); }

  CliResult Run(const std::vector<std::string>& args) const { return ws_.Run(args); }

  UMockdevTestbed* testbed_ = nullptr;
  Workspace ws_;
};

TEST_F(UsbIdentityTest, LongListShowsEachAdapterAndBlanksForTheBoardsUart) {
  const CliResult result = Run({"ports", "-l"});
  ASSERT_EQ(result.code, 0) << result.err;
  const std::vector<std::string> lines = Lines(result.out);
  const auto line = [&lines](const std::string& name) {
    for (const std::string& l : lines) {
      if (l.starts_with(name + " ")) return l;
      if (l == name) return l;
    }
    return std::string("(missing)");
  };
  EXPECT_EQ(line("ttyS4"), "ttyS4");
  std::string usb0 = line("ttyUSB0");
  EXPECT_NE(usb0.find("0403:6001"), std::string::npos) << result.out;
  EXPECT_NE(usb0.find("  A10K3Z9Q  "), std::string::npos) << result.out;
  EXPECT_TRUE(usb0.ends_with("  FTDI          FT232R USB UART")) << result.out;
  EXPECT_NE(line("ttyUSB1").find("10c4:ea60  0001"), std::string::npos) << result.out;
}

TEST_F(UsbIdentityTest, JsonNamesTheAdapterOrNull) {
  const CliResult result = Run({"--json", "ports"});
  ASSERT_EQ(result.code, 0) << result.err;
  std::map<std::string, json> ports;
  for (const std::string& line : Lines(result.out)) {
    const json event = json::parse(line);
    if (event.at("event") == "port") ports[event.at("name")] = event;
  }
  ASSERT_TRUE(ports.contains("ttyUSB1") && ports.contains("ttyS4")) << result.out;
  EXPECT_EQ(ports["ttyS4"].at("usb"), nullptr);
  EXPECT_EQ(ports["ttyS4"].at("path"), "/dev/ttyS4");
  EXPECT_EQ(ports["ttyUSB1"].at("usb"), json({{"vid", "10c4"},
                                              {"pid", "ea60"},
                                              {"serial", "0001"},
                                              {"manufacturer", "Silicon Labs"},
                                              {"product", "CP2102 USB to UART Bridge"}}));
}

// One list behind every form: the long list and the JSON events name the same ports in the
// same order, and the short list (the ports that open now) takes its names from it, in order.
TEST_F(UsbIdentityTest, EveryFormOfPortsNamesTheSamePortsInTheSameOrder) {
  const auto firstWords = [](const std::string& text) {
    std::vector<std::string> names;
    for (const std::string& line : Lines(text)) names.push_back(line.substr(0, line.find(' ')));
    return names;
  };
  const CliResult shortList = Run({"ports"});
  const CliResult longList = Run({"ports", "-l"});
  const CliResult events = Run({"--json", "ports"});
  ASSERT_EQ(shortList.code, 0) << shortList.err;
  ASSERT_EQ(longList.code, 0) << longList.err;
  ASSERT_EQ(events.code, 0) << events.err;
  std::vector<std::string> jsonNames;
  for (const std::string& line : Lines(events.out)) {
    const json event = json::parse(line);
    if (event.at("event") == "port") jsonNames.push_back(event.at("name"));
  }
  const std::vector<std::string> longNames = firstWords(longList.out);
  EXPECT_EQ(jsonNames, longNames);
  const std::vector<std::string> shortNames = firstWords(shortList.out);
  std::size_t next = 0;
  for (const std::string& name : shortNames) {
    while (next < longNames.size() && longNames[next] != name) ++next;
    EXPECT_LT(next, longNames.size()) << name << " is not in the long list, or out of its order";
  }
}

struct SerialCase {
  const char* name;
  const char* serial;
  int code;
  std::string err;
};

void PrintTo(const SerialCase& c, std::ostream* os) { *os << c.name; }

class UsbSerialChoiceTest : public UsbIdentityTest,
                            public ::testing::WithParamInterface<SerialCase> {};

// One match runs on that port (nothing answers on the staged node: the check fails there);
// none and several are refused before any port is opened, naming what there is.
TEST_P(UsbSerialChoiceTest, PortOfTheSerialNumber) {
  const SerialCase& c = GetParam();
  const std::string log = (ws_.Dir() / "audit.log").string();
  const CliResult result = Run({"--log-file", log, "-p", std::string("usb:") + c.serial, "check"});
  EXPECT_EQ(result.code, c.code) << result.err;
  EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
  const std::vector<std::string> records = Lines(Slurp(log));
  if (c.code == 2) {
    EXPECT_TRUE(records.empty());
  } else {
    ASSERT_EQ(records.size(), 1U);
    const json record = json::parse(records.front());
    EXPECT_EQ(record.at("port"), "ttyUSB0");
    EXPECT_EQ(record.at("usb_serial"), c.serial);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bench, UsbSerialChoiceTest,
    ::testing::ValuesIn(std::vector<SerialCase>{
        {"One", "A10K3Z9Q", 1, ""},
        {"None", "NOSUCH", 2,
         "no USB adapter has the serial number NOSUCH; adapters: ttyUSB0 A10K3Z9Q, ttyUSB1 0001, "
         "ttyUSB2 SAME42, ttyUSB3 SAME42, ttyUSB4 (no serial number)"},
        {"Two", "SAME42", 2, "the serial number SAME42 matches several ports: ttyUSB2, ttyUSB3"},
        // Not the adapter that has none.
        {"Empty", "", 2,
         "-p usb: needs the adapter's serial number: usb:SERIAL, as 'quorvex-cli ports -l' "
         "shows it"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex::test

#if defined(__SANITIZE_THREAD__)
// umockdev's preloaded library keeps a table of this process's file descriptors, filled from
// the test's thread (fstat) and from the testbed's own thread, which accepts the connections of
// the programs the tests start: a race inside that library. The excuse is built into this suite
// alone, so the quorvex-cli it starts is still checked in full.
extern "C" const char* __tsan_default_suppressions() {  // NOLINT(bugprone-reserved-identifier)
  return "race:libumockdev-preload.so\n";
}
#endif

int main(int argc, char** argv) {
  constexpr const char* kAgain = "QUORVEX_UNDER_UMOCKDEV";
  if (std::getenv(kAgain) == nullptr) {
    // Again under the wrapper. Its library is preloaded before the sanitizer's runtime, which
    // refuses to start so unless told that this is meant.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string options = std::string(asan != nullptr ? asan : "") +
                                (asan != nullptr ? ":" : "") + "verify_asan_link_order=0";
    ::setenv("ASAN_OPTIONS", options.c_str(), 1);
    ::setenv(kAgain, "1", 1);
    std::vector<char*> again{const_cast<char*>(UMOCKDEV_WRAPPER)};
    for (int i = 0; i < argc; ++i) again.push_back(argv[i]);
    again.push_back(nullptr);
    ::execv(UMOCKDEV_WRAPPER, again.data());
    std::perror(UMOCKDEV_WRAPPER);
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
