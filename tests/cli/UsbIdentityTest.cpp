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
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Processes.h"

namespace quorvex::test {
namespace {

using nlohmann::json;

struct Adapter {
  const char* tty;
  // Its place on the USB bus: the bus, then the port on each hub (1-3.1 is port 1 of the hub in
  // port 3 of bus 1). Ports of one adapter share it, one interface each.
  const char* bus;
  const char* vid;
  const char* pid;
  const char* serial;  // nullptr: the adapter reports none
  const char* manufacturer;
  const char* product;
};

// A bench: an FTDI-like and a CP210x-like adapter, two adapters that report one serial
// number plugged into one hub, a cheap adapter with no serial number at all, an adapter with
// two ports, and a built-in UART on the board, with no USB above it.
const std::vector<Adapter> kAdapters = {
    {"ttyUSB0", "1-1", "0403", "6001", "A10K3Z9Q", "FTDI", "FT232R USB UART"},
    {"ttyUSB1", "1-2", "10C4", "EA60", "0001", "Silicon Labs", "CP2102 USB to UART Bridge"},
    {"ttyUSB2", "1-3.1", "0403", "6001", "SAME42", "FTDI", "FT232R USB UART"},
    {"ttyUSB3", "1-3.4", "0403", "6001", "SAME42", "FTDI", "FT232R USB UART"},
    {"ttyUSB4", "1-5", "1a86", "7523", nullptr, "", "USB Serial"},
    {"ttyUSB5", "2-1", "0403", "6010", "FT2X7Q", "FTDI", "Dual RS232-HS"},
    {"ttyUSB6", "2-1", "0403", "6010", "FT2X7Q", "FTDI", "Dual RS232-HS"},
};

// Where each port is plugged in, as ports -l and the port event show it; null off USB.
const std::map<std::string, json> kLocations = {
    {"ttyS4", nullptr},   {"ttyUSB0", "1-1"}, {"ttyUSB1", "1-2"}, {"ttyUSB2", "1-3.1"},
    {"ttyUSB3", "1-3.4"}, {"ttyUSB4", "1-5"}, {"ttyUSB5", "2-1"}, {"ttyUSB6", "2-1"},
};

class UsbIdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The staged tree goes into UMOCKDEV_DIR, which the children inherit.
    testbed_ = umockdev_testbed_new();
    for (const Adapter& a : kAdapters) {
      const bool seen = devices_.contains(a.bus);
      const std::string usb = seen ? devices_[a.bus] : UsbDevice(a.bus);
      if (!seen) {
        const std::pair<const char*, const char*> attributes[] = {{"idVendor", a.vid},
                                                                  {"idProduct", a.pid},
                                                                  {"manufacturer", a.manufacturer},
                                                                  {"product", a.product},
                                                                  {"serial", a.serial}};
        for (const auto& [name, value] : attributes) {
          if (value != nullptr) umockdev_testbed_set_attribute(testbed_, usb.c_str(), name, value);
        }
      }
      const std::string interfaceName =
          std::string(a.bus) + ":1." + std::to_string(interfaces_[a.bus]++);
      gchar* interface =
          umockdev_testbed_add_device(testbed_, "usb", interfaceName.c_str(), usb.c_str(), nullptr,
                                      "DEVTYPE", "usb_interface", nullptr);
      gchar* serial =
          umockdev_testbed_add_device(testbed_, "usb-serial", a.tty, interface, nullptr, nullptr);
      const std::string node = std::string("/dev/") + a.tty;
      g_free(umockdev_testbed_add_device(testbed_, "tty", a.tty, serial, nullptr, "DEVNAME",
                                         node.c_str(), nullptr));
      g_free(serial);
      g_free(interface);
    }
    gchar* board = umockdev_testbed_add_device(testbed_, "pnp", "00:05", nullptr, nullptr, nullptr);
    g_free(umockdev_testbed_add_device(testbed_, "tty", "ttyS4", board, nullptr, "DEVNAME",
                                       "/dev/ttyS4", nullptr));
    g_free(board);
  }
  void TearDown() override { g_object_unref(testbed_); }

  // The USB device at a place on the bus, under the hubs its place names (1-3.1 hangs under the
  // hub 1-3), each staged once; its syspath.
  std::string UsbDevice(const std::string& place) {
    if (const auto known = devices_.find(place); known != devices_.end()) return known->second;
    const std::size_t dot = place.rfind('.');
    const std::string parent = dot == std::string::npos ? "" : UsbDevice(place.substr(0, dot));
    gchar* syspath = umockdev_testbed_add_device(testbed_, "usb", place.c_str(),
                                                 parent.empty() ? nullptr : parent.c_str(), nullptr,
                                                 "DEVTYPE", "usb_device", nullptr);
    devices_[place] = syspath;
    g_free(syspath);
    return devices_[place];
  }

  CliResult Run(const std::vector<std::string>& args) const { return ws_.Run(args); }

  UMockdevTestbed* testbed_ = nullptr;
  std::map<std::string, std::string> devices_;  // USB devices and hubs staged, by place
  std::map<std::string, int> interfaces_;       // interfaces staged on each
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
         "ttyUSB2 SAME42, ttyUSB3 SAME42, ttyUSB4 (no serial number), ttyUSB5 FT2X7Q, "
         "ttyUSB6 FT2X7Q"},
        {"Two", "SAME42", 2, "the serial number SAME42 matches several ports: ttyUSB2, ttyUSB3"},
        // Not the adapter that has none.
        {"Empty", "", 2,
         "-p usb: needs the adapter's serial number: usb:SERIAL, as 'quorvex-cli ports -l' "
         "shows it"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// The location stands beside the name on each USB port's line, the columns after it still
// aligned whatever its width; the board's UART has none and stays a bare name.
TEST_F(UsbIdentityTest, LongListShowsWhereEachPortIsPluggedIn) {
  const CliResult result = Run({"ports", "-l"});
  ASSERT_EQ(result.code, 0) << result.err;
  std::map<std::string, std::string> lines;
  for (const std::string& line : Lines(result.out)) lines[line.substr(0, line.find(' '))] = line;
  std::set<std::size_t> idColumns;  // where VID:PID starts on each USB line
  for (const auto& [name, location] : kLocations) {
    ASSERT_TRUE(lines.contains(name)) << result.out;
    const std::string& line = lines[name];
    if (location.is_null()) {
      EXPECT_EQ(line, name);
      continue;
    }
    std::istringstream words(line);
    std::string first;
    std::string second;
    std::string id;
    words >> first >> second >> id;
    EXPECT_EQ(second, location.get<std::string>()) << line;
    idColumns.insert(line.find(id, first.size() + second.size()));
  }
  EXPECT_EQ(idColumns.size(), 1U) << result.out;
  EXPECT_NE(lines["ttyUSB2"].find("ttyUSB2  1-3.1  0403:6001  SAME42"), std::string::npos)
      << result.out;
}

TEST_F(UsbIdentityTest, JsonEventNamesTheLocationOrNull) {
  const CliResult result = Run({"--json", "ports"});
  ASSERT_EQ(result.code, 0) << result.err;
  std::map<std::string, json> locations;
  for (const std::string& line : Lines(result.out)) {
    const json event = json::parse(line);
    if (event.at("event") == "port") locations[event.at("name")] = event.at("location");
  }
  EXPECT_EQ(locations, kLocations);
}

struct LocationCase {
  const char* name;
  const char* location;
  int code;
  const char* port;  // the port it ran on and its adapter's serial number; nullptr when refused
  const char* serial;
  std::string err;
};

void PrintTo(const LocationCase& c, std::ostream* os) { *os << c.name; }

class UsbLocationChoiceTest : public UsbIdentityTest,
                              public ::testing::WithParamInterface<LocationCase> {};

const std::string kLocated =
    "ports: ttyUSB0 1-1, ttyUSB1 1-2, ttyUSB2 1-3.1, ttyUSB3 1-3.4, ttyUSB4 1-5, ttyUSB5 2-1, "
    "ttyUSB6 2-1";

// One match runs on that port (nothing answers on the staged node: the check fails there), and
// its audit record still names the adapter; none and several are refused before any port is
// opened, naming the ports that have a location.
TEST_P(UsbLocationChoiceTest, PortAtTheLocation) {
  const LocationCase& c = GetParam();
  const std::string log = (ws_.Dir() / "audit.log").string();
  const CliResult result =
      Run({"--log-file", log, "-p", std::string("usb-path:") + c.location, "check"});
  EXPECT_EQ(result.code, c.code) << result.err;
  EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
  const std::vector<std::string> records = Lines(Slurp(log));
  if (c.port == nullptr) {
    EXPECT_TRUE(records.empty());
  } else {
    ASSERT_EQ(records.size(), 1U);
    const json record = json::parse(records.front());
    EXPECT_EQ(record.at("port"), c.port);
    EXPECT_EQ(record.at("usb_serial"), c.serial);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bench, UsbLocationChoiceTest,
    ::testing::ValuesIn(std::vector<LocationCase>{
        {"OnTheRootHub", "1-1", 1, "ttyUSB0", "A10K3Z9Q", ""},
        // The adapter in port 4 of the hub, not its twin in port 1.
        {"BehindAHub", "1-3.4", 1, "ttyUSB3", "SAME42", ""},
        {"None", "9-9", 2, nullptr, nullptr,
         "no port is plugged in at the USB location 9-9; " + kLocated},
        // The hub itself has no port: the adapters below it are elsewhere.
        {"TheHub", "1-3", 2, nullptr, nullptr,
         "no port is plugged in at the USB location 1-3; " + kLocated},
        {"TwoPortsOfOneAdapter", "2-1", 2, nullptr, nullptr,
         "the USB location 2-1 has several ports: ttyUSB5, ttyUSB6; name the port instead"},
        {"Empty", "", 2, nullptr, nullptr,
         "-p usb-path: needs the USB port's location: usb-path:LOC, as 'quorvex-cli ports -l' "
         "shows it"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// A location names a port as well as its name, its path or its serial number do: giving one
// port twice is refused, whichever two forms name it.
TEST_F(UsbIdentityTest, PortNamedTwiceThroughItsLocationIsRefused) {
  const std::vector<std::vector<std::string>> pairs = {
      {"usb-path:1-1", "/dev/ttyUSB0"},
      {"ttyUSB0", "usb-path:1-1"},
      {"usb-path:1-1", "usb:A10K3Z9Q"},
      {"usb-path:1-3.4", "usb-path:1-3.4"},
  };
  for (const auto& pair : pairs) {
    const CliResult result = Run({"-p", pair[0], "-p", pair[1], "check"});
    EXPECT_EQ(result.code, 2) << pair[0] << " " << pair[1];
    EXPECT_NE(result.err.find("is named twice"), std::string::npos)
        << pair[0] << " " << pair[1] << ": " << result.err;
  }
}

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
