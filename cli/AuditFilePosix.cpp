// The audit file on POSIX: O_APPEND makes each write land whole at the end of the file.
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "AuditLog.h"
#include "UniqueFd.h"

namespace quorvex::cli {
namespace {

class PosixAppendFile final : public AppendFile {
 public:
  explicit PosixAppendFile(UniqueFd fd) : fd_(std::move(fd)) {}

  bool Append(const std::string& line) override {
    ssize_t written = -1;
    do {
      written = ::write(fd_.Get(), line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(line.size());
  }

 private:
  UniqueFd fd_;
};

}  // namespace

std::unique_ptr<AppendFile> OpenAppendFile(const std::string& path, std::string* error) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!fd.Valid()) {
    *error = std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<PosixAppendFile>(std::move(fd));
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string UserName() {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[1024];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  const char* user = std::getenv("USER");
  return user != nullptr ? user : std::to_string(::geteuid());
}

}  // namespace quorvex::cli
