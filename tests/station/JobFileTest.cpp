// Reading a station's job file: what a good job yields, and that every fault in one is told on
// one line naming the job file, the line and the key or entry at fault.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FirmwareImage.h"
#include "Job.h"
#include "SampleFirmware.h"
#include "Sha256.h"
#include "TempFolder.h"

namespace quorvex::test {
namespace {

namespace fs = std::filesystem;
using station::Job;
using station::LoadJob;

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

fs::path PathOf(const std::string& utf8) { return {std::u8string(utf8.begin(), utf8.end())}; }

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A folder to put a job and its firmware files in.
class JobFolder {
 public:
  // The UTF-8 path of `relative` in the folder (made with its parent folders).
  std::string Place(const std::string& relative) const {
    const fs::path path = folder_.Path() / PathOf(relative);
    fs::create_directories(path.parent_path());
    return Utf8(path);
  }

  std::string Text(const std::string& relative, const std::string& text) const {
    const std::string path = Place(relative);
    std::ofstream(PathOf(path), std::ios::binary) << text;
    return path;
  }

  // A firmware file whose sector is named `name`; `size` cuts it short.
  std::string Firmware(const std::string& relative, const std::string& name, unsigned seed,
                       std::size_t size = kFileSize) const {
    const std::string path = Place(relative);
    EXPECT_TRUE(WriteFirmwareFile(path, SampleImage(name, false, seed), size));
    return path;
  }

  [[nodiscard]] std::string Path() const { return Utf8(folder_.Path()); }

 private:
  TempFolder folder_{"quorvex-job"};
};

// The digest of the bytes on the disk, computed apart from the reader.
std::string DigestOf(const std::string& path) {
  std::ifstream in(PathOf(path), std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  return Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// A job and the one fault it must be refused for.
struct FaultCase {
  const char* name;
  std::string job;
  int line;  // 0: the message names no line
  std::vector<std::string> says;
};

class JobFaultTest : public ::testing::TestWithParam<FaultCase> {};

// Every job below has "boot.fls" (a good file, number 1's) and "short.fls" (100 bytes) and
// "long.bin" (a byte too many) beside it; "zero.fls" is pinned with the digest of 64 zeros.
TEST_P(JobFaultTest, RefusedNamingTheLineAndTheEntry) {
  const FaultCase& c = GetParam();
  JobFolder folder;
  folder.Firmware("boot.fls", "BOOT", 1);
  folder.Firmware("short.fls", "SHORT", 2, 100);
  folder.Text("long.bin", std::string(kFileSize + 1, '\x5a'));
  const std::string path = folder.Text("job.toml", c.job);

  Job job;
  job.path = "untouched";
  std::string error;
  ASSERT_FALSE(LoadJob(path, &job, &error));
  const std::string prefix = path + (c.line > 0 ? ":" + std::to_string(c.line) : "") + ": ";
  EXPECT_EQ(error.substr(0, prefix.size()), prefix) << error;
  for (const std::string& part : c.says) EXPECT_NE(error.find(part), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
  EXPECT_EQ(job.path, "untouched") << "a refused job leaves the caller's as it was";
}

// A file pinned with a digest no file here has.
const std::string kOtherDigest(64, 'a');

INSTANTIATE_TEST_SUITE_P(
    Faults, JobFaultTest,
    ::testing::ValuesIn(std::vector<FaultCase>{
        // Keys that are not the job's.
        {"UnknownTopLevelKey",
         "title = \"line 3\"\n[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n",
         1,
         {"unknown key 'title'"}},
        {"UnknownKeyInSector",
         "[[sector]]\nfile = \"boot.fls\"\nnubmer = 1\n",
         3,
         {"unknown key 'nubmer' in sector 1"}},
        {"UnknownKeyInStation",
         "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n\n[station]\nslot = [\"usb:A1\"]\n",
         6,
         {"unknown key 'slot' in [station]"}},
        {"KeyWithANewlineStaysOnOneLine",
         "\"a\\nb\" = 1\n[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n",
         1,
         {"unknown key 'a\\x0ab'"}},
        // Keys that are missing.
        {"NumberMissing",
         "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n\n[[sector]]\nfile = \"boot.fls\"\n",
         5,
         {"sector 2: 'number' is missing"}},
        {"FileMissing", "# one\n[[sector]]\nnumber = 1\n", 2, {"sector 1: 'file' is missing"}},
        {"NoSectorAtAll",
         "# nothing but a station\n[station]\noverwrite = true\n",
         0,
         {"no [[sector]]"}},
        {"EmptyFile", "", 0, {"no [[sector]]"}},
        {"EmptySectorArray", "\nsector = []\n", 2, {"'sector' is empty"}},
        // Values of the wrong type or out of range.
        {"SectorAsOneTable",
         "[sector]\nnumber = 1\nfile = \"boot.fls\"\n",
         1,
         {"'sector' must be an array of tables", "not a table"}},
        {"NumberAsString",
         "[[sector]]\nnumber = \"1\"\nfile = \"boot.fls\"\n",
         2,
         {"sector 1: 'number' must be an integer, not a string"}},
        {"NumberAsFloat",
         "[[sector]]\nnumber = 1.0\nfile = \"boot.fls\"\n",
         2,
         {"sector 1: 'number' must be an integer"}},
        {"NumberZero",
         "[[sector]]\nnumber = 0\nfile = \"boot.fls\"\n",
         2,
         {"sector 1: 'number' must be 1 to 64, not 0"}},
        {"NumberAbove64",
         "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n[[sector]]\nfile = \"boot.fls\"\n"
         "number = 65\n",
         6,
         {"sector 2: 'number' must be 1 to 64, not 65"}},
        {"NumberFarOutOfRange",
         "[[sector]]\nnumber = -4294967297\nfile = \"boot.fls\"\n",
         2,
         {"'number' must be 1 to 64, not -4294967297"}},
        {"NumberTwice",
         "[[sector]]\nnumber = 7\nfile = \"boot.fls\"\n\n[[sector]]\nnumber = 3\nfile = "
         "\"boot.fls\"\n\n[[sector]]\nfile = \"boot.fls\"\nnumber = 7\n",
         11,
         {"sector 3: number 7 is already programmed by sector 1 (line 1)"}},
        {"FileNotAString",
         "[[sector]]\nnumber = 1\nfile = [\"boot.fls\"]\n",
         3,
         {"sector 1: 'file' must be a string, not an array"}},
        {"FileEmpty", "[[sector]]\nnumber = 1\nfile = \"\"\n", 3, {"sector 1: 'file' is empty"}},
        {"StationNotATable",
         "station = \"line 4\"\n[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n",
         1,
         {"'station' must be a table, not a string"}},
        {"SlotsNotAnArray",
         "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n[station]\nslots = \"usb:A1\"\n",
         5,
         {"station: 'slots' must be an array of strings"}},
        {"SlotOfAnotherType",
         "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n[station]\nslots = [\n  \"usb:A1\",\n  "
         "3,\n]\n",
         7,
         {"station: 'slots' must be an array of strings", "entry 2"}},
        {"SlotEmpty",
         "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n[station]\nslots = [\"usb:A1\", \"\"]\n",
         5,
         {"station: 'slots' entry 2 is empty"}},
        {"OverwriteNotABoolean",
         "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n[station]\noverwrite = \"yes\"\n",
         5,
         {"station: 'overwrite' must be true or false, not a string"}},
        {"OnResultEmpty",
         "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n[station]\non-result = []\n",
         5,
         {"station: 'on-result' is empty"}},
        {"OnResultProgramEmpty",
         "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n[station]\non-result = [\"\", \"--x\"]\n",
         5,
         {"station: 'on-result' entry 1 is empty"}},
        {"OnResultNotAnArray",
         "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n[station]\non-result = \"/bin/lamp\"\n",
         5,
         {"station: 'on-result' must be an array of strings"}},
        // Pins that cannot be a digest.
        {"PinTooShort",
         "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\nsha256 = \"" + std::string(63, '0') + "\"\n",
         4,
         {"sector 1: 'sha256' must be 64 hexadecimal digits, not 63 characters"}},
        {"PinNotHex",
         "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\nsha256 = \"" + std::string(9, '0') + "g" +
             std::string(54, '0') + "\"\n",
         4,
         {"sector 1: 'sha256' must be 64 hexadecimal digits", "character 10"}},
        {"PinNotAString",
         "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\nsha256 = 3\n",
         4,
         {"sector 1: 'sha256' must be a string", "not an integer"}},
        // Files that are not what the job needs.
        {"FileMissingOnDisk",
         "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n\n[[sector]]\nnumber = 2\n"
         "file = \"missing.fls\"\n",
         7,
         {"sector 2 (number 2): the file ", "missing.fls cannot be opened"}},
        {"FileIsAFolder",
         "[[sector]]\nnumber = 1\nfile = \".\"\n",
         3,
         {"sector 1 (number 1): the file ", "cannot be opened"}},
        {"FileTooShort",
         "[[sector]]\nnumber = 5\nfile = \"short.fls\"\n",
         3,
         {"sector 1 (number 5): the file ", "short.fls is not a firmware file",
          "exactly 65600 bytes, not 100"}},
        {"FileTooLong",
         "[[sector]]\nnumber = 5\nfile = \"long.bin\"\n",
         3,
         {"long.bin is not a firmware file", "not 65601"}},
        {"PinNotMatching",
         "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\nsha256 = \"" + kOtherDigest + "\"\n",
         4,
         {"sector 1 (number 1): the file ", "boot.fls has SHA-256 ",
          "not the pinned " + kOtherDigest}},
        // Syntax.
        {"SyntaxError", "[[sector]]\nnumber = \nfile = \"boot.fls\"\n", 2, {}},
        {"UnclosedTable", "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n[station\n", 4, {}},
        {"KeyTwice", "[[sector]]\nnumber = 1\nnumber = 2\nfile = \"boot.fls\"\n", 3, {"number"}},
        // Which fault is told: the first in the file, keys before files.
        {"FirstFaultInFileOrderNotKeyOrder",
         "[[sector]]\nzeta = 1\nfile = 5\nnumber = 1\n",
         2,
         {"unknown key 'zeta' in sector 1"}},
        {"KeysCheckedBeforeAnyFile",
         "[[sector]]\nnumber = 1\nfile = \"missing.fls\"\n[station]\noverwrite = 1\n",
         5,
         {"'overwrite'"}},
    }),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// The job file itself: missing, a folder, or far too large to be a job.
TEST(JobFileTest, UnreadableJobFileIsNamed) {
  JobFolder folder;
  const std::string large = folder.Text("large.toml", std::string((1u << 20) + 1, '#'));
  const std::string cases[] = {folder.Place("missing.toml"), folder.Path(), large};
  for (const std::string& path : cases) {
    Job job;
    std::string error;
    EXPECT_FALSE(LoadJob(path, &job, &error)) << path;
    EXPECT_EQ(error.rfind(path + ": the job file ", 0), 0u) << error;
  }
  // Just under the bound, a comment-only job is read, and refused for what it lacks.
  const std::string fits = folder.Text("fits.toml", "#" + std::string((1u << 20) - 2, '#') + "\n");
  Job job;
  std::string error;
  EXPECT_FALSE(LoadJob(fits, &job, &error));
  EXPECT_EQ(error, fits + ": no [[sector]]: the job programs nothing");
}

TEST(JobFileTest, GoodJobYieldsEverySectorInOrderAndTheStation) {
  JobFolder folder;
  JobFolder elsewhere;
  const std::string boot = folder.Firmware("boot.fls", "BOOT", 1);
  const std::string app = folder.Firmware("fw/app.fls", "APPLICATION", 2);
  const std::string data = elsewhere.Firmware("data.fls", "DATA", 3);
  const std::string bootDigest = DigestOf(boot);
  const std::string path = folder.Text("job.toml",
                                       "# Sectors in the order they are programmed.\n"
                                       "[[sector]]\n"
                                       "number = 1\n"
                                       "file = \"boot.fls\"   # beside the job\n"
                                       "sha256 = \"" +
                                           Upper(bootDigest) +
                                           "\"\n"
                                           "\n"
                                           "[[sector]]\n"
                                           "file = 'fw/app.fls'\n"
                                           "number = 64\n"
                                           "\n"
                                           "[[sector]]  # from another folder\n"
                                           "number = 7\n"
                                           "file = '" +
                                           data +
                                           "'\n"
                                           "\n"
                                           "[station]\n"
                                           "slots = [\"usb-path:1-1.2\", \"usb:A10K3Z9Q\", "
                                           "\"/dev/ttyUSB3\"]\n"
                                           "overwrite = true\n"
                                           "on-result = [\"/usr/local/bin/lamp\", \"--slot\"]\n");

  Job job;
  std::string error;
  ASSERT_TRUE(LoadJob(path, &job, &error)) << error;
  EXPECT_TRUE(PathOf(job.path).is_absolute()) << job.path;
  EXPECT_TRUE(fs::equivalent(PathOf(job.path), PathOf(path))) << job.path;
  ASSERT_EQ(job.sectors.size(), 3u);

  struct Expected {
    int number;
    std::string file;
    std::string name;
    int line;
  };
  const Expected expected[] = {
      {1, boot, "BOOT", 2}, {64, app, "APPLICATION", 7}, {7, data, "DATA", 11}};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const station::JobSector& sector = job.sectors[i];
    EXPECT_EQ(sector.number, expected[i].number);
    EXPECT_TRUE(PathOf(sector.file).is_absolute()) << sector.file;
    EXPECT_TRUE(fs::equivalent(PathOf(sector.file), PathOf(expected[i].file))) << sector.file;
    EXPECT_EQ(sector.sha256, DigestOf(expected[i].file));
    EXPECT_EQ(sector.name, expected[i].name);
    EXPECT_EQ(sector.line, expected[i].line);
  }
  EXPECT_EQ(job.sectors[0].sha256, bootDigest) << "stored in lower case, as the records name it";
  EXPECT_NE(job.sectors[0].sha256, job.sectors[1].sha256);
  EXPECT_EQ(job.slots,
            (std::vector<std::string>{"usb-path:1-1.2", "usb:A10K3Z9Q", "/dev/ttyUSB3"}));
  EXPECT_TRUE(job.overwrite);
  EXPECT_EQ(job.onResult, (std::vector<std::string>{"/usr/local/bin/lamp", "--slot"}));
}

TEST(JobFileTest, StationTableIsOptional) {
  JobFolder folder;
  folder.Firmware("boot.fls", "BOOT", 1);
  const std::string path =
      folder.Text("job.toml", "[[sector]]\nnumber = 3\nfile = \"boot.fls\"\n[station]\n");
  Job job;
  job.overwrite = true;
  job.slots = {"left over"};
  std::string error;
  ASSERT_TRUE(LoadJob(path, &job, &error)) << error;
  ASSERT_EQ(job.sectors.size(), 1u);
  EXPECT_EQ(job.sectors[0].number, 3);
  EXPECT_TRUE(job.slots.empty());
  EXPECT_FALSE(job.overwrite);
  EXPECT_TRUE(job.onResult.empty());
}

// A job is opened relative to the current folder, and its files against its own folder.
TEST(JobFileTest, RelativeJobPathIsMadeAbsolute) {
  JobFolder folder;
  const std::string boot = folder.Firmware("line/fw/boot.fls", "BOOT", 1);
  folder.Text("line/job.toml", "[[sector]]\nnumber = 1\nfile = \"fw/boot.fls\"\n");
  const fs::path before = fs::current_path();
  fs::current_path(PathOf(folder.Path()));
  Job job;
  std::string error;
  const bool loaded = LoadJob("line/job.toml", &job, &error);
  std::string missingError;
  Job unused;
  const bool missingLoaded = LoadJob("line/none.toml", &unused, &missingError);
  fs::current_path(before);

  ASSERT_TRUE(loaded) << error;
  EXPECT_TRUE(PathOf(job.path).is_absolute()) << job.path;
  EXPECT_TRUE(fs::equivalent(PathOf(job.path), PathOf(folder.Path()) / "line" / "job.toml"));
  ASSERT_EQ(job.sectors.size(), 1u);
  EXPECT_TRUE(fs::equivalent(PathOf(job.sectors[0].file), PathOf(boot)));
  EXPECT_FALSE(missingLoaded);
  EXPECT_EQ(missingError.rfind("line/none.toml: ", 0), 0u) << "named as given: " << missingError;
}

TEST(JobFileTest, CyrillicFoldersAndFileNames) {
  JobFolder folder;
  const std::string boot = folder.Firmware("Прошивки/Линия 1/загрузчик.fls", "BOOT", 1);
  const std::string app = folder.Firmware("Прошивки/приложение.fls", "APP", 2);
  const std::string path = folder.Text("Прошивки/Линия 1/задание.toml",
                                       "[[sector]]\nnumber = 1\nfile = \"загрузчик.fls\"\n"
                                       "[[sector]]\nnumber = 2\nfile = \"../приложение.fls\"\n"
                                       "[station]\nslots = [\"/dev/ttyUSB0\"]\n");
  Job job;
  std::string error;
  ASSERT_TRUE(LoadJob(path, &job, &error)) << error;
  EXPECT_TRUE(fs::equivalent(PathOf(job.path), PathOf(path))) << job.path;
  ASSERT_EQ(job.sectors.size(), 2u);
  EXPECT_TRUE(fs::equivalent(PathOf(job.sectors[0].file), PathOf(boot))) << job.sectors[0].file;
  EXPECT_NE(job.sectors[0].file.find("Линия 1"), std::string::npos) << job.sectors[0].file;
  EXPECT_EQ(job.sectors[0].name, "BOOT");
  EXPECT_TRUE(fs::equivalent(PathOf(job.sectors[1].file), PathOf(app)));
  EXPECT_EQ(job.sectors[1].sha256, DigestOf(app));

  // A missing file in such a folder is named in its own letters.
  const std::string broken =
      folder.Text("Прошивки/Линия 1/неполное.toml", "[[sector]]\nnumber = 1\nfile = \"нет.fls\"\n");
  EXPECT_FALSE(LoadJob(broken, &job, &error));
  EXPECT_EQ(error.rfind(broken + ":3: sector 1 (number 1): the file ", 0), 0u) << error;
  EXPECT_NE(error.find("Линия 1"), std::string::npos) << error;
  EXPECT_NE(error.find("нет.fls cannot be opened"), std::string::npos) << error;
}

}  // namespace
}  // namespace quorvex::test
