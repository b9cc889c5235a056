#pragma once

#include <memory>
#include <string>

#include "Output.h"

namespace quorvex::cli {

// A file opened for appending only, where each line goes in one write: several programs
// sharing the file never interleave parts of their lines.
class AppendFile {
 public:
  virtual ~AppendFile() = default;
  // Writes the whole line (a short write is continued, never left without its line feed),
  // then makes it durable. false with *error set (the system's reason) when it cannot.
  virtual bool Append(const std::string& line, std::string* error) = 0;
};

// Opens (creating it when missing) the file for appending; nullptr with *error set when it
// cannot be opened so.
std::unique_ptr<AppendFile> OpenAppendFile(const std::string& path, std::string* error);

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

 private:
  std::unique_ptr<AppendFile> file_;
};

}  // namespace quorvex::cli
