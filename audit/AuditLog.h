#pragma once

#include <memory>
#include <string>

#include "AppendFile.h"
#include "RunRecord.h"
#include "RunRecordJson.h"

namespace quorvex {

// This machine's name and the user's login name, as the audit record names them.
std::string HostName();
std::string UserName();
// Now, in UTC: 2026-12-10T13:45:07Z.
std::string UtcNow();
// The UTF-8 path made absolute against the current folder, so that a record read later, on
// another machine or from another folder, still says where the file was; as given when the
// current folder is unknown.
std::string AbsolutePath(const std::string& path);

// The audit record of --log-file: one JSON line for every device command and port when it
// ends, with what was done, to which instrument, by whom, and how it ended.
class AuditLog {
 public:
  explicit AuditLog(std::unique_ptr<AppendFile> file) : file_(std::move(file)) {}
  // false with *error set when the line could not be written whole and made durable.
  bool Record(const RunRecord& record, std::string* error);
  // Appends `line` (a whole record, its time, host and user first) as one line; false with
  // *error set as Record does.
  bool Append(const json& line, std::string* error);

 private:
  std::unique_ptr<AppendFile> file_;
};

}  // namespace quorvex
