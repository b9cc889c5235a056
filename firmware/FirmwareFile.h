#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "FirmwareImage.h"
#include "WholeFile.h"

namespace quorvex {

enum class FileStatus {
  Ok,
  CannotOpen,  // missing, unreadable, held by another program, or not a plain file
  WrongSize,   // not exactly 65,600 bytes, its size unknown, or fewer bytes delivered
};

// Opens the file for reading only, measures it, and reads all 65,600 bytes into `into`
// (nothing is read from a file of another size). *size is the size measured, 0 when unknown.
FileStatus ReadFirmwareFile(const std::string& path, FileBytes& into, std::uint32_t* size);

// The folder of a path, up to and including its last separator, and the name after it.
std::string FolderOf(std::string_view path);
std::string FileNameOf(std::string_view path);

}  // namespace quorvex
