#pragma once

#include <memory>
#include <string>

namespace quorvex {

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

}  // namespace quorvex
