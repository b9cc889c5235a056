// Choosing and reading a firmware file: sizes, unusable paths, and what the operator sees.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Device.h"
#include "FirmwareFile.h"
#include "RecordingOperator.h"
#include "ScriptedBackend.h"
#include "TempFolder.h"

namespace quorvex::test {
namespace {

namespace fs = std::filesystem;

struct TempDir {
  TempFolder folder{"quorvex-file"};
  const fs::path& path = folder.Path();
  std::string Make(const std::string& name, std::size_t size, std::uint8_t fill = 0x11) const {
    const fs::path file = path / name;
    std::ofstream(file, std::ios::binary) << std::string(size, static_cast<char>(fill));
    return file.string();
  }
};

struct FileCase {
  const char* name;
  long size;  // -1: no file; -2: a folder
  FileStatus status;
  std::string box;
};

class FileTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(FileTest, OpenCommandAndRunReadAgree) {
  const FileCase& c = GetParam();
  TempDir dir;
  std::string path = (dir.path / "fw.fls").string();
  if (c.size >= 0) path = dir.Make("fw.fls", static_cast<std::size_t>(c.size));
  if (c.size == -2) fs::create_directory(path);

  FileBytes bytes{};
  EXPECT_EQ(ReadFirmwareFile(path, bytes, nullptr), c.status);

  RecordingOperator op;
  TComPort port(nullptr, std::make_unique<ScriptedBackend>(std::make_shared<ScriptedLine>()));
  Device device(port, op);
  const bool failed = device.OpenFirmware(path);
  EXPECT_EQ(failed, !c.box.empty());
  if (failed) {
    ASSERT_EQ(op.shown.size(), 1u);
    EXPECT_EQ(op.shown[0].text, c.box);
    EXPECT_EQ(op.shown[0].caption, "Ошибка");
    EXPECT_TRUE(device.FileName.empty()) << "a refused file is forgotten";
    EXPECT_TRUE(op.log.empty());
  } else {
    EXPECT_EQ(device.FileName, path);
    EXPECT_EQ(op.log, std::vector<std::string>{"Открыт файл: " + path});
  }
}

INSTANTIATE_TEST_SUITE_P(Files, FileTest,
                         ::testing::ValuesIn(std::vector<FileCase>{
                             {"Exact", 65'600, FileStatus::Ok, ""},
                             {"OneShort", 65'599, FileStatus::WrongSize,
                              "Неправильная длина файла"},
                             {"OneLong", 65'601, FileStatus::WrongSize, "Неправильная длина файла"},
                             {"Empty", 0, FileStatus::WrongSize, "Неправильная длина файла"},
                             {"Missing", -1, FileStatus::CannotOpen, "Не могу открыть файл"},
                             {"Folder", -2, FileStatus::CannotOpen, "Не могу открыть файл"},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

struct ReadFixture : ::testing::Test {
  TempDir dir;
  RecordingOperator op;
  TComPort port{nullptr, std::make_unique<ScriptedBackend>(std::make_shared<ScriptedLine>())};
  Device device{port, op};
};

TEST_F(ReadFixture, NoFileChosen) {
  EXPECT_TRUE(device.ReadFile());
  ASSERT_EQ(op.shown.size(), 1u);
  EXPECT_EQ(op.shown[0].text, "Откройте файл");
}

TEST_F(ReadFixture, FileReplacedByAnotherSizeBeforeTheRun) {
  const std::string path = dir.Make("fw.fls", 65'600);
  ASSERT_FALSE(device.OpenFirmware(path));
  dir.Make("fw.fls", 100);
  EXPECT_TRUE(device.ReadFile());
  EXPECT_EQ(op.shown.back().text, "Неправильная длина файла");
  EXPECT_EQ(device.FileName, path) << "the run keeps the name; only the open command forgets";
}

TEST_F(ReadFixture, FileRemovedBeforeTheRun) {
  const std::string path = dir.Make("fw.fls", 65'600);
  ASSERT_FALSE(device.OpenFirmware(path));
  fs::remove(path);
  EXPECT_TRUE(device.ReadFile());
  EXPECT_EQ(op.shown.back().text, "Не могу открыть файл");
}

TEST_F(ReadFixture, ReadDecodesTheFile) {
  const std::string path = dir.Make("fw.fls", 65'600, 0x00);
  ASSERT_FALSE(device.OpenFirmware(path));
  device.Image.fill(0xEE);
  ASSERT_FALSE(device.ReadFile());
  EXPECT_EQ(device.FileSize, 65'600u);
  EXPECT_EQ(device.Image[0], 0x00) << "every byte of the image is written";
}

TEST(PathPartsTest, FolderAndName) {
  EXPECT_EQ(FolderOf("/home/op/fw/a.fls"), "/home/op/fw/");
  EXPECT_EQ(FileNameOf("/home/op/fw/a.fls"), "a.fls");
  EXPECT_EQ(FolderOf("a.fls"), "");
  EXPECT_EQ(FileNameOf("a.fls"), "a.fls");
}

}  // namespace
}  // namespace quorvex::test
