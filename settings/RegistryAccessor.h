#pragma once

#include <memory>
#include <stdexcept>
#include <string>

namespace quorvex {

// A failed write of a value: "Failed to set data for 'NAME'", shown by the application's
// standard error display.
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class RootKey { LocalMachine, CurrentUser };

// The stored settings: one current key under a root, holding string values. The Windows
// registry on Windows; a small text file under the user's configuration folder elsewhere.
class RegistryAccessor {
 public:
  virtual ~RegistryAccessor() = default;
  virtual void SetRootKey(RootKey root) = 0;
  [[nodiscard]] virtual bool KeyExists(const std::string& key) = 0;
  // Makes `key` the current key; with canCreate it is created when missing.
  virtual bool OpenKey(const std::string& key, bool canCreate) = 0;
  // A value that is missing, or no current key, reads as empty text.
  [[nodiscard]] virtual std::string ReadString(const std::string& name) = 0;
  // Throws RegistryError when the value cannot be stored.
  virtual void WriteString(const std::string& name, const std::string& value) = 0;
};

// The settings key and its two values.
inline constexpr const char* kSettingsKey = "\\Software\\Quorvex";
inline constexpr const char* kValueComName = "COMName";
inline constexpr const char* kValuePathFileProg = "PathFileProg";

std::unique_ptr<RegistryAccessor> MakeRegistryAccessor();

// The file behind the accessor on systems without a registry: $XDG_CONFIG_HOME (default
// ~/.config) + "/quorvex/settings.ini".
std::unique_ptr<RegistryAccessor> MakeFileRegistryAccessor(const std::string& filePath);
std::string DefaultSettingsFilePath();

// Settings held in memory for this session only: what the program works with when its store
// cannot be written.
std::unique_ptr<RegistryAccessor> MakeSessionRegistryAccessor();

std::string FailedToSetMessage(const std::string& name);

}  // namespace quorvex
