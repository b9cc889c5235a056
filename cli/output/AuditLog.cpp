#include "AuditLog.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace quorvex::cli {
namespace {

using json = nlohmann::ordered_json;

template <typename T>
json OrNull(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

}  // namespace

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#ifdef _WIN32
  ::gmtime_s(&utc, &now);
#else
  ::gmtime_r(&now, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string AbsolutePath(const std::string& path) {
  // As u8 paths, so that Windows takes the UTF-8 bytes through its wide calls.
  std::error_code error;
  const std::filesystem::path absolute =
      std::filesystem::absolute(std::u8string(path.begin(), path.end()), error);
  if (error) return path;
  const std::u8string text = absolute.u8string();
  return {text.begin(), text.end()};
}

bool AuditLog::Record(const RunRecord& r, std::string* error) {
  const json line = {{"time", UtcNow()},
                     {"host", HostName()},
                     {"user", UserName()},
                     {"command", r.command},
                     {"port", r.port},
                     {"usb_serial", OrNull(r.usbSerial)},
                     {"file", r.file ? json(AbsolutePath(*r.file)) : json(nullptr)},
                     {"sha256", OrNull(r.sha256)},
                     {"sector", OrNull(r.sector)},
                     {"name", OrNull(r.name)},
                     {"exit", r.exit},
                     {"seconds", std::round(r.seconds * 1000) / 1000},
                     {"log", r.log}};
  return file_->Append(line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n", error);
}

}  // namespace quorvex::cli
