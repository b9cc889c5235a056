// The instance ids Windows gives USB devices, read without any Windows call, so that the rules
// are tested everywhere.
#include "UsbInstanceId.h"

#include <algorithm>
#include <cctype>

namespace quorvex {
namespace {

constexpr std::string_view kUsbBus = "USB\\";

bool OnUsbBus(std::string_view id) {
  if (id.size() < kUsbBus.size()) return false;
  return std::equal(kUsbBus.begin(), kUsbBus.end(), id.begin(), [](char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) ==
           std::toupper(static_cast<unsigned char>(b));
  });
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper;
}

// The 4 hexadecimal digits right after `tag` ("VID_") in the device part, lower case.
std::string IdAfter(std::string_view devicePart, std::string_view tag) {
  const std::string upper = Upper(devicePart);
  const std::size_t at = upper.find(tag);
  if (at == std::string::npos || at + tag.size() + 4 > upper.size()) return {};
  std::string id(devicePart.substr(at + tag.size(), 4));
  for (char& c : id) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return id;
}

}  // namespace

std::optional<UsbInstanceId> ParseUsbInstanceId(std::string_view id) {
  const std::size_t last = id.rfind('\\');
  if (!OnUsbBus(id) || last < kUsbBus.size()) return std::nullopt;
  const std::string_view device = id.substr(0, last);
  UsbInstanceId parsed;
  parsed.vid = IdAfter(device, "VID_");
  parsed.pid = IdAfter(device, "PID_");
  parsed.isInterface = Upper(device).find("&MI_") != std::string::npos;
  const std::string_view serial = id.substr(last + 1);
  if (!parsed.isInterface && serial.find('&') == std::string_view::npos) parsed.serial = serial;
  return parsed;
}

std::optional<std::size_t> UsbDeviceInChain(const std::vector<std::string>& ids) {
  for (std::size_t i = 0; i < ids.size() && i < 2; ++i) {
    if (!OnUsbBus(ids[i])) continue;
    const std::optional<UsbInstanceId> parsed = ParseUsbInstanceId(ids[i]);
    if (parsed && parsed->isInterface && i + 1 < ids.size() && OnUsbBus(ids[i + 1])) return i + 1;
    return i;
  }
  return std::nullopt;
}

}  // namespace quorvex
