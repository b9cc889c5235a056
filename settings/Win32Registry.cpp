// The registry accessor over the Windows registry. The settings live under
// HKEY_LOCAL_MACHINE; a user without the rights to open or create the key there gets the
// same key under HKEY_CURRENT_USER instead, so the program keeps its settings either way.
// Names and values cross into the registry through the wide calls: UTF-8 inside, UTF-16 there.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

#include "RegistryAccessor.h"
#include "Utf16.h"

namespace quorvex {
namespace {

HKEY HiveOf(RootKey root) {
  return root == RootKey::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The registry takes key paths relative to the hive: drop the leading separator.
std::wstring RelativeKey(const std::string& key) {
  std::string path = key;
  while (!path.empty() && path.front() == '\\') path.erase(path.begin());
  return WideFromUtf8(path);
}

// Earlier versions stored UTF-8 bytes through the ANSI call, which took them for text in the
// system's code page: "Прошивки" came back as "РџСЂРѕС€РёРІРєРё". Such a value turns back into
// those bytes exactly in that code page, and they form UTF-8 with letters beyond ASCII; text
// really written in the code page (Cyrillic in Windows-1251, say) almost never does.
std::string RepairedValue(const std::wstring& value) {
  const std::string utf8 = Utf8FromWide(value);
  const int size = static_cast<int>(value.size());
  BOOL lossy = FALSE;
  const int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, value.data(), size,
                                           nullptr, 0, nullptr, &lossy);
  if (length <= 0 || lossy) return utf8;
  std::string bytes(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, value.data(), size, bytes.data(), length,
                        nullptr, &lossy);
  if (lossy || bytes == utf8) return utf8;
  const int wide =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
  return wide > 0 ? bytes : utf8;
}

class Win32Registry final : public RegistryAccessor {
 public:
  ~Win32Registry() override { CloseCurrent(); }

  void SetRootKey(RootKey root) override { root_ = root; }

  bool KeyExists(const std::string& key) override {
    for (const HKEY hive : Hives()) {
      HKEY probe = nullptr;
      if (::RegOpenKeyExW(hive, RelativeKey(key).c_str(), 0, KEY_ALL_ACCESS, &probe) ==
          ERROR_SUCCESS) {
        ::RegCloseKey(probe);
        return true;
      }
    }
    return false;
  }

  bool OpenKey(const std::string& key, bool canCreate) override {
    const std::wstring path = RelativeKey(key);
    for (const HKEY hive : Hives()) {
      HKEY opened = nullptr;
      LONG status = ::RegOpenKeyExW(hive, path.c_str(), 0, KEY_ALL_ACCESS, &opened);
      if (status != ERROR_SUCCESS && canCreate) {
        status = ::RegCreateKeyExW(hive, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, &opened, nullptr);
      }
      if (status == ERROR_SUCCESS) {
        CloseCurrent();
        current_ = opened;
        return true;
      }
    }
    return false;
  }

  std::string ReadString(const std::string& name) override {
    if (current_ == nullptr) return {};
    const std::wstring wideName = WideFromUtf8(name);
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(current_, wideName.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) {
      return {};
    }
    // Room for a terminating zero the stored value may lack, and for an odd byte count.
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
    if (::RegQueryValueExW(current_, wideName.c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
      return {};
    }
    return RepairedValue(std::wstring(data.data()));  // up to the terminating zero
  }

  void WriteString(const std::string& name, const std::string& value) override {
    const std::wstring wide = WideFromUtf8(value);
    // The stored length includes the terminating zero.
    if (current_ == nullptr ||
        ::RegSetValueExW(current_, WideFromUtf8(name).c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(wide.c_str()),
                         static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) !=
            ERROR_SUCCESS) {
      throw RegistryError(FailedToSetMessage(name));
    }
  }

 private:
  // The hives tried in turn: the root set, then, for the local machine, the current user.
  std::vector<HKEY> Hives() const {
    if (root_ == RootKey::LocalMachine) return {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
    return {HiveOf(root_)};
  }

  void CloseCurrent() {
    if (current_ != nullptr) ::RegCloseKey(current_);
    current_ = nullptr;
  }

  RootKey root_ = RootKey::CurrentUser;
  HKEY current_ = nullptr;
};

}  // namespace

std::unique_ptr<RegistryAccessor> MakeRegistryAccessor() {
  return std::make_unique<Win32Registry>();
}

}  // namespace quorvex
