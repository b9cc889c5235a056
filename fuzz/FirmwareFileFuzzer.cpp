// Fuzz target: reading a .fls file of any size and content, and unscrambling it into the image.
//
// The input is written to a file of its own and read back with ReadFirmwareFile; the input, cut
// or padded with zeros to 65,600 bytes, is also decoded and encoded again.
//
// Invariant: the file is accepted exactly when it holds 65,600 bytes, the size reported is the
// file's size, and an accepted file is delivered byte for byte; DecodeImage gives what a slow
// reference gives (each body byte XOR the key byte at its offset modulo 256, then every block of
// 1,025 bytes reversed); EncodeImage of the image gives back the file. No out-of-bounds access or
// undefined behaviour (the sanitizers abort on those).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "FirmwareFile.h"
#include "FirmwareImage.h"
#include "FuzzCheck.h"

namespace {

using quorvex::FileBytes;
using quorvex::kFileSize;

std::string g_path;

void RemoveFile() { ::unlink(g_path.c_str()); }

void WriteInput(const std::uint8_t* data, std::size_t size) {
  const int fd = ::open(g_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  FUZZ_CHECK(fd >= 0);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    FUZZ_CHECK(n > 0);
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

// The image straight from the definition, one byte at a time.
std::uint8_t ReferenceImageByte(const FileBytes& file, std::size_t at) {
  const std::size_t block = at / 1'025;
  const std::size_t k = at % 1'025;
  const std::size_t source = block * 1'025 + 1'024 - k;
  const std::uint8_t key = source < 256 ? 0 : file[source % 256];
  return static_cast<std::uint8_t>(file[source] ^ key);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_path = (std::filesystem::temp_directory_path() /
            ("quorvex-fuzz-file-" + std::to_string(::getpid()) + ".fls"))
               .string();
  std::atexit(RemoveFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  WriteInput(data, size);
  auto read = std::make_unique<FileBytes>();
  read->fill(0xA5);
  std::uint32_t measured = 12345;
  const quorvex::FileStatus status = quorvex::ReadFirmwareFile(g_path, *read, &measured);
  FUZZ_CHECK(status != quorvex::FileStatus::CannotOpen);
  FUZZ_CHECK((status == quorvex::FileStatus::Ok) == (size == kFileSize));
  FUZZ_CHECK(measured == size);
  if (status == quorvex::FileStatus::Ok) {
    FUZZ_CHECK(std::equal(read->begin(), read->end(), data));
  }

  auto file = std::make_unique<FileBytes>();
  std::copy_n(data, std::min(size, kFileSize), file->begin());
  auto raw = std::make_unique<FileBytes>(*file);
  auto image = std::make_unique<FileBytes>();
  quorvex::DecodeImage(*raw, *image);
  for (std::size_t i = 0; i < kFileSize; ++i) {
    FUZZ_CHECK((*image)[i] == ReferenceImageByte(*file, i));
  }
  auto again = std::make_unique<FileBytes>();
  quorvex::EncodeImage(*image, *again);
  FUZZ_CHECK(*again == *file);
  return 0;
}
