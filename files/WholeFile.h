#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace quorvex {

// Writes a whole file so that the path always holds either the old content or all of the
// new: the bytes go to a temporary file of a unique name beside the target, are flushed to
// the disk, and the temporary file is renamed over the target (on POSIX the folder is
// flushed too, so the rename itself survives a power cut, and an existing target keeps its
// permission bits). The path is UTF-8 on every platform. On failure nothing of the temporary
// file is left, the target is unchanged, and `error` (when given) says why.
[[nodiscard]] bool WriteWholeFile(const std::string& path, const std::uint8_t* data,
                                  std::size_t count, std::error_code* error = nullptr);

// Reads all there is at `path` (UTF-8), a pipe such as /dev/stdin as well as a plain file, but
// never more than `limit` + 1 bytes: more than `limit` bytes in `bytes` means the file is too
// large, and an endless source (/dev/zero) is refused as soon as that is known rather than
// read until memory runs out. False when it cannot be opened or a read fails.
[[nodiscard]] bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes,
                                 std::size_t limit);

}  // namespace quorvex
