#include "AuditLog.h"

#include <ctime>
#include <filesystem>
#include <system_error>

#include "RunRecordJson.h"

namespace quorvex {
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
  // The file as an absolute path: a record read later, elsewhere, still says which it was.
  RunRecord record = r;
  if (record.file) record.file = AbsolutePath(*record.file);
  const json all = ToJson(record);
  json line = {{"time", UtcNow()}, {"host", HostName()}, {"user", UserName()}};
  line.update(Fields(all, {"command", "port", "usb_serial", "file", "sha256", "sector", "name",
                           "exit", "seconds", "log"}));
  return Append(line, error);
}

bool AuditLog::Append(const json& line, std::string* error) {
  return file_->Append(line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n", error);
}

}  // namespace quorvex
