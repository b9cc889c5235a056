// The registry accessor over a text file: one "[ROOT\key]" section per key and "name=value"
// lines, rewritten whole (WriteWholeFile), so a crash, a power cut or a full disk never
// leaves half a file. Lines it does not understand are kept as they are.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include <filesystem>

#include "RegistryAccessor.h"
#include "WholeFile.h"

namespace quorvex {
namespace {

std::string RootName(RootKey root) {
  return root == RootKey::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

// Keys are absolute from the root whether or not they start with a separator.
std::string SectionOf(RootKey root, const std::string& key) {
  std::string path = key;
  while (!path.empty() && path.front() == '\\') path.erase(path.begin());
  return "[" + RootName(root) + "\\" + path + "]";
}

std::string Escape(const std::string& value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      const char next = value[++i];
      out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    } else {
      out += value[i];
    }
  }
  return out;
}

class FileRegistry final : public RegistryAccessor {
 public:
  explicit FileRegistry(std::string path) : path_(std::move(path)) {}

  void SetRootKey(RootKey root) override { root_ = root; }

  bool KeyExists(const std::string& key) override {
    const std::vector<std::string> lines = Load();
    return FindSection(lines, SectionOf(root_, key)) != lines.size();
  }

  bool OpenKey(const std::string& key, bool canCreate) override {
    const std::string section = SectionOf(root_, key);
    std::vector<std::string> lines = Load();
    if (FindSection(lines, section) == lines.size()) {
      if (!canCreate) return false;
      lines.push_back(section);
      if (!Save(lines)) return false;
    }
    current_ = section;
    return true;
  }

  std::string ReadString(const std::string& name) override {
    if (current_.empty()) return {};
    const std::vector<std::string> lines = Load();
    const std::size_t at = FindValue(lines, name);
    if (at == lines.size()) return {};
    return Unescape(lines[at].substr(name.size() + 1));
  }

  void WriteString(const std::string& name, const std::string& value) override {
    if (current_.empty()) throw RegistryError(FailedToSetMessage(name));
    std::vector<std::string> lines = Load();
    std::size_t section = FindSection(lines, current_);
    if (section == lines.size()) {  // the file was removed or rewritten meanwhile
      lines.push_back(current_);
      section = lines.size() - 1;
    }
    const std::string line = name + "=" + Escape(value);
    const std::size_t at = FindValue(lines, name);
    if (at != lines.size()) {
      lines[at] = line;
    } else {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(section) + 1, line);
    }
    if (!Save(lines)) throw RegistryError(FailedToSetMessage(name));
  }

 private:
  std::vector<std::string> Load() const {
    // Two values take a few hundred bytes; whatever stands at the path is read only that far
    // (a link to /dev/zero is not read until memory runs out). A file beyond the bound holds
    // no settings of ours and reads as empty.
    constexpr std::size_t kLargestSettings = 1 << 20;
    std::vector<std::string> lines;
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(path_, bytes, kLargestSettings) || bytes.size() > kLargestSettings) {
      return lines;
    }
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }

  bool Save(const std::vector<std::string>& lines) const {
    std::error_code error;
    const std::filesystem::path file(path_);
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), error);
    std::string content;
    for (const std::string& line : lines) content += line + '\n';
    return WriteWholeFile(path_, reinterpret_cast<const std::uint8_t*>(content.data()),
                          content.size());
  }

  static std::size_t FindSection(const std::vector<std::string>& lines,
                                 const std::string& section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i] == section) return i;
    }
    return lines.size();
  }

  // The line "name=..." inside the current key's section, or lines.size().
  std::size_t FindValue(const std::vector<std::string>& lines, const std::string& name) const {
    std::size_t i = FindSection(lines, current_);
    if (i == lines.size()) return i;
    for (++i; i < lines.size() && !(lines[i].starts_with("[") && lines[i].ends_with("]")); ++i) {
      if (lines[i].size() > name.size() && lines[i].compare(0, name.size(), name) == 0 &&
          lines[i][name.size()] == '=') {
        return i;
      }
    }
    return lines.size();
  }

  std::string path_;
  RootKey root_ = RootKey::CurrentUser;
  std::string current_;
};

}  // namespace

std::string FailedToSetMessage(const std::string& name) {
  return "Failed to set data for '" + name + "'";
}

std::string DefaultSettingsFilePath() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    base = std::string(home) + "/.config";
  } else {
    base = ".";
  }
  return base + "/quorvex/settings.ini";
}

std::unique_ptr<RegistryAccessor> MakeFileRegistryAccessor(const std::string& filePath) {
  return std::make_unique<FileRegistry>(filePath);
}

#ifndef _WIN32
std::unique_ptr<RegistryAccessor> MakeRegistryAccessor() {
  return MakeFileRegistryAccessor(DefaultSettingsFilePath());
}
#endif

}  // namespace quorvex
