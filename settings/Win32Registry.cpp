// The registry accessor over the Windows registry. The settings live under
// HKEY_LOCAL_MACHINE; a user without the rights to open or create the key there gets the
// same key under HKEY_CURRENT_USER instead, so the program keeps its settings either way.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

#include "RegistryAccessor.h"

namespace quorvex {
namespace {

HKEY HiveOf(RootKey root) {
  return root == RootKey::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The registry takes key paths relative to the hive: drop the leading separator.
std::string RelativeKey(const std::string& key) {
  std::string path = key;
  while (!path.empty() && path.front() == '\\') path.erase(path.begin());
  return path;
}

class Win32Registry final : public RegistryAccessor {
 public:
  ~Win32Registry() override { CloseCurrent(); }

  void SetRootKey(RootKey root) override { root_ = root; }

  bool KeyExists(const std::string& key) override {
    for (const HKEY hive : Hives()) {
      HKEY probe = nullptr;
      if (::RegOpenKeyExA(hive, RelativeKey(key).c_str(), 0, KEY_ALL_ACCESS, &probe) ==
          ERROR_SUCCESS) {
        ::RegCloseKey(probe);
        return true;
      }
    }
    return false;
  }

  bool OpenKey(const std::string& key, bool canCreate) override {
    const std::string path = RelativeKey(key);
    for (const HKEY hive : Hives()) {
      HKEY opened = nullptr;
      LONG status = ::RegOpenKeyExA(hive, path.c_str(), 0, KEY_ALL_ACCESS, &opened);
      if (status != ERROR_SUCCESS && canCreate) {
        status = ::RegCreateKeyExA(hive, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
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
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExA(current_, name.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) {
      return {};
    }
    std::vector<char> data(size + 1, '\0');
    if (::RegQueryValueExA(current_, name.c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
      return {};
    }
    return std::string(data.data());  // up to the terminating zero, which may be missing
  }

  void WriteString(const std::string& name, const std::string& value) override {
    // The stored length includes the terminating zero byte.
    if (current_ == nullptr ||
        ::RegSetValueExA(current_, name.c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS) {
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
