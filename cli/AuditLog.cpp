#include "AuditLog.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <ctime>

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

bool AuditLog::Record(const RunRecord& r) {
  const json line = {{"time", UtcNow()},
                     {"host", HostName()},
                     {"user", UserName()},
                     {"command", r.command},
                     {"port", r.port},
                     {"usb_serial", OrNull(r.usbSerial)},
                     {"file", OrNull(r.file)},
                     {"sha256", OrNull(r.sha256)},
                     {"sector", OrNull(r.sector)},
                     {"name", OrNull(r.name)},
                     {"exit", r.exit},
                     {"seconds", std::round(r.seconds * 1000) / 1000},
                     {"log", r.log}};
  return file_->Append(line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
}

}  // namespace quorvex::cli
