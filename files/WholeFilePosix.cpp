#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "UniqueFd.h"
#include "WholeFile.h"

namespace quorvex {
namespace {

// A name no other writer uses: the process, a counter for the threads of this process, and
// O_EXCL for whatever else may lie in the folder.
UniqueFd CreateTemporary(const std::string& path, std::string& temporary) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.Valid() || errno != EEXIST) return fd;
  }
  return UniqueFd();
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, data, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes the rename itself durable. Some file systems cannot flush a folder; the data is
// already safe then, so a refusal here is not a failure of the write.
void FlushFolder(const std::string& path) {
  UniqueFd folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Valid()) (void)::fsync(folder.Get());
}

bool Fail(std::error_code* error, int code) {
  if (error != nullptr) *error = std::error_code(code, std::generic_category());
  return false;
}

}  // namespace

bool WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t count,
                    std::error_code* error) {
  std::string temporary;
  UniqueFd fd = CreateTemporary(path, temporary);
  if (!fd.Valid()) return Fail(error, errno);

  // A file rewritten keeps the permissions its owner gave it (a settings file made private
  // stays private).
  int failure = 0;
  struct stat target {};
  if (::stat(path.c_str(), &target) == 0 && ::fchmod(fd.Get(), target.st_mode & 07777) != 0) {
    failure = errno;
  }
  if (failure == 0 && !WriteAll(fd.Get(), data, count)) failure = errno;
  if (failure == 0 && ::fsync(fd.Get()) != 0) failure = errno;
  if (!fd.Close() && failure == 0) failure = errno;
  if (failure == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) failure = errno;
  if (failure != 0) {
    ::unlink(temporary.c_str());
    return Fail(error, failure);
  }
  FlushFolder(path);
  if (error != nullptr) error->clear();
  return true;
}

}  // namespace quorvex
