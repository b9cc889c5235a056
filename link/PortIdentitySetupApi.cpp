// Port identity on Windows: the devices of the Ports class that SetupAPI knows, each with its
// COM name from the device's registry key and, for a USB adapter, the ids and serial number
// from the instance ids of the device and of the USB device above it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first
#include <cfgmgr32.h>
#include <initguid.h>
// initguid.h before devguid.h, so the class GUID is defined here
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>

#include "PortEnumeration.h"
#include "PortIdentity.h"
#include "Utf16.h"

namespace quorvex {
namespace {

std::string RegistryProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t value[512] = {};
  if (::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                          reinterpret_cast<BYTE*>(value), sizeof value - 2,
                                          nullptr) == FALSE) {
    return {};
  }
  return Utf8FromWide(value);
}

std::string PortNameOfDevice(HDEVINFO set, SP_DEVINFO_DATA& device) {
  const HKEY key =
      ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
  if (key == INVALID_HANDLE_VALUE) return {};
  wchar_t name[64] = {};
  DWORD size = sizeof name - 2;
  DWORD type = 0;
  const LONG status =
      ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
  ::RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_SZ ? Utf8FromWide(name) : std::string();
}

// "USB\VID_0403&PID_6001\A10K3Z9Q" (also FTDIBUS\VID_0403+PID_6001+...): the 4 hex digits
// after `tag`, lower case.
std::string IdAfter(const std::string& instance, const char* tag) {
  const std::size_t at = instance.find(tag);
  if (at == std::string::npos || at + 8 > instance.size()) return {};
  std::string id = instance.substr(at + 4, 4);
  std::transform(id.begin(), id.end(), id.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return id;
}

std::string InstanceId(DEVINST instance) {
  wchar_t id[MAX_DEVICE_ID_LEN] = {};
  return ::CM_Get_Device_IDW(instance, id, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS ? Utf8FromWide(id)
                                                                               : std::string();
}

std::optional<UsbIdentity> UsbOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
  const std::string own = InstanceId(device.DevInst);
  DEVINST parent = 0;
  const std::string above =
      ::CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS ? InstanceId(parent) : "";
  // The USB device itself is the port (a CDC modem) or the one above it (a vendor driver).
  const std::string usb = own.starts_with("USB\\") ? own : above.starts_with("USB\\") ? above : "";
  if (usb.empty()) return std::nullopt;
  UsbIdentity id;
  id.vid = IdAfter(usb, "VID_");
  id.pid = IdAfter(usb, "PID_");
  const std::size_t last = usb.rfind('\\');
  // Windows makes up an instance id with '&' in it when the device reports no serial number.
  const std::string serial = last == std::string::npos ? "" : usb.substr(last + 1);
  if (serial.find('&') == std::string::npos) id.serial = serial;
  id.manufacturer = RegistryProperty(set, device, SPDRP_MFG);
  id.product = RegistryProperty(set, device, SPDRP_DEVICEDESC);
  return id;
}

}  // namespace

std::vector<PortIdentity> ListPortIdentities() {
  std::vector<PortIdentity> ports;
  const HDEVINFO set =
      ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return ports;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device) != FALSE; ++i) {
    PortIdentity port;
    port.name = PortNameOfDevice(set, device);
    if (!port.name.starts_with("COM")) continue;  // printer ports share the class
    port.path = PortPathOf(port.name);
    port.usb = UsbOf(set, device);
    port.description = RegistryProperty(set, device, SPDRP_FRIENDLYNAME);
    ports.push_back(std::move(port));
  }
  ::SetupDiDestroyDeviceInfoList(set);
  std::sort(ports.begin(), ports.end(), [](const PortIdentity& a, const PortIdentity& b) {
    return NaturalLess(a.name, b.name);
  });
  return ports;
}

}  // namespace quorvex
