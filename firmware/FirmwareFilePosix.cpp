#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "FirmwareFile.h"
#include "UniqueFd.h"

namespace quorvex {
namespace {

bool ReadAll(int fd, std::uint8_t* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd, data + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

FileStatus ReadFirmwareFile(const std::string& path, FileBytes& into, std::uint32_t* size) {
  if (size != nullptr) *size = 0;
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file.Valid()) return FileStatus::CannotOpen;
  struct stat info {};
  // A folder, a device or a pipe is not a firmware file, whatever open said.
  if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return FileStatus::CannotOpen;
  const off_t end = ::lseek(file.Get(), 0, SEEK_END);
  if (end < 0) return FileStatus::WrongSize;
  if (size != nullptr) *size = end > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<std::uint32_t>(end);
  if (end != static_cast<off_t>(kFileSize)) return FileStatus::WrongSize;
  if (::lseek(file.Get(), 0, SEEK_SET) != 0) return FileStatus::WrongSize;
  // A read that delivers fewer bytes than measured is refused like a wrong size.
  if (!ReadAll(file.Get(), into.data(), into.size())) return FileStatus::WrongSize;
  return FileStatus::Ok;
}

}  // namespace quorvex
