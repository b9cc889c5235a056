// Port identity on Windows: the devices of the Ports class that SetupAPI knows, each with its
// COM name from the device's registry key and, for a USB adapter, the ids and serial number
// from the instance id of the USB device: the port itself, or the node above it, or, for one
// interface of a composite adapter, the device above that interface. That USB device's
// location path says where the adapter is plugged in.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first
#include <cfgmgr32.h>
#include <initguid.h>
// initguid.h before devguid.h and devpkey.h, so the class GUID and the property key are
// defined here
#include <devguid.h>
#include <devpkey.h>
#include <setupapi.h>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "PortEnumeration.h"
#include "PortIdentity.h"
#include "TComPort.h"
#include "UsbInstanceId.h"
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

std::string InstanceId(DEVINST instance) {
  wchar_t id[MAX_DEVICE_ID_LEN] = {};
  return ::CM_Get_Device_IDW(instance, id, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS ? Utf8FromWide(id)
                                                                               : std::string();
}

// A text property of a node outside the device set (the USB device above a port).
std::string NodeText(DEVINST node, ULONG property) {
  wchar_t value[512] = {};
  ULONG size = sizeof value - 2;
  ULONG type = 0;
  if (::CM_Get_DevNode_Registry_PropertyW(node, property, &type, value, &size, 0) != CR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  return Utf8FromWide(value);
}

// The product name the device itself reports on the bus ("FT232R USB UART"), where the
// driver's description names only its kind ("USB Serial Port", "USB Composite Device").
std::string BusReportedDescription(DEVINST node) {
  wchar_t value[512] = {};
  ULONG size = sizeof value - 2;
  DEVPROPTYPE type = 0;
  if (::CM_Get_DevNode_PropertyW(node, &DEVPKEY_Device_BusReportedDeviceDesc, &type,
                                 reinterpret_cast<BYTE*>(value), &size, 0) != CR_SUCCESS ||
      type != DEVPROP_TYPE_STRING) {
    return {};
  }
  return Utf8FromWide(value);
}

// The first of a node's location paths (PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)): the
// one through the buses; the others, where there are any, name the same place through the
// firmware's tables. The list is as long as the hubs are deep, so its size is asked first.
std::string LocationPath(DEVINST node) {
  ULONG size = 0;
  if (::CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_LOCATION_PATHS, nullptr, nullptr, &size,
                                          0) != CR_BUFFER_SMALL ||
      size == 0) {
    return {};
  }
  // Two more characters than asked for: the list ends in two nulls even if the property
  // came without them.
  std::vector<wchar_t> paths(size / sizeof(wchar_t) + 2, L'\0');
  ULONG type = 0;
  if (::CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_LOCATION_PATHS, &type, paths.data(), &size,
                                          0) != CR_SUCCESS ||
      type != REG_MULTI_SZ) {
    return {};
  }
  return Utf8FromWide(paths.data());  // up to the first string's null
}

// The USB device a port belongs to, where it is on USB.
struct UsbNode {
  DEVINST node;
  UsbInstanceId id;
};

std::optional<UsbNode> UsbNodeOf(DEVINST port) {
  // The port's node and up to two above it: a vendor driver's port on one interface of a
  // composite adapter sits two levels below the USB device.
  std::vector<DEVINST> nodes{port};
  std::vector<std::string> ids{InstanceId(port)};
  for (int level = 0; level < 2; ++level) {
    DEVINST parent = 0;
    if (::CM_Get_Parent(&parent, nodes.back(), 0) != CR_SUCCESS) break;
    nodes.push_back(parent);
    ids.push_back(InstanceId(parent));
  }
  const std::optional<std::size_t> at = UsbDeviceInChain(ids);
  if (!at) return std::nullopt;
  std::optional<UsbInstanceId> parsed = ParseUsbInstanceId(ids[*at]);
  if (!parsed) return std::nullopt;
  return UsbNode{nodes[*at], std::move(*parsed)};
}

UsbIdentity UsbOf(HDEVINFO set, SP_DEVINFO_DATA& device, const UsbNode& usb) {
  UsbIdentity id;
  id.vid = usb.id.vid;
  id.pid = usb.id.pid;
  id.serial = usb.id.serial;
  // The maker as the port's driver names it: the entry of a composite device names only the
  // system's generic driver.
  id.manufacturer = RegistryProperty(set, device, SPDRP_MFG);
  if (id.manufacturer.empty()) id.manufacturer = NodeText(usb.node, CM_DRP_MFG);
  id.product = BusReportedDescription(usb.node);
  if (id.product.empty()) id.product = RegistryProperty(set, device, SPDRP_DEVICEDESC);
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
    if (const std::optional<UsbNode> usb = UsbNodeOf(device.DevInst)) {
      port.usb = UsbOf(set, device, *usb);
      // The USB device's, not the port's own: every interface of a composite adapter, and
      // the node a vendor driver adds below it, is in the one place the plug is.
      port.location = LocationPath(usb->node);
    }
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
