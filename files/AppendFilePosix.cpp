// The append-only file on POSIX: O_APPEND makes each write land whole at the end of the file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>
#include <utility>

#include "AppendFile.h"
#include "SystemErrorText.h"
#include "UniqueFd.h"

namespace quorvex {
namespace {

int Sync(int fd) {
#ifdef __linux__
  return ::fdatasync(fd);  // the data and the size; not the times
#else
  return ::fsync(fd);
#endif
}

class PosixAppendFile final : public AppendFile {
 public:
  explicit PosixAppendFile(UniqueFd fd) : fd_(std::move(fd)) {}

  bool Append(const std::string& line, std::string* error) override {
    // One write is the normal path; a short one (a signal, a quota) is continued at the end
    // of the file, so the line still gets its line feed and the next line starts on its own.
    std::string_view rest = line;
    while (!rest.empty()) {
      const ssize_t n = ::write(fd_.Get(), rest.data(), rest.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        *error = n < 0 ? SystemErrorText(errno) : "nothing written";
        return false;
      }
      rest.remove_prefix(static_cast<std::size_t>(n));
    }
    // On the disk before the run is reported ended: the record must outlive a power cut.
    int synced = -1;
    do {
      synced = Sync(fd_.Get());
    } while (synced != 0 && errno == EINTR);
    // A pipe or a terminal (--log-file /dev/stderr) cannot be synchronised, and need not be.
    if (synced != 0 && errno != EINVAL && errno != ENOTSUP) {
      *error = SystemErrorText(errno);
      return false;
    }
    return true;
  }

 private:
  UniqueFd fd_;
};

}  // namespace

std::unique_ptr<AppendFile> OpenAppendFile(const std::string& path, std::string* error) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!fd.Valid()) {
    *error = SystemErrorText(errno);
    return nullptr;
  }
  return std::make_unique<PosixAppendFile>(std::move(fd));
}

}  // namespace quorvex
