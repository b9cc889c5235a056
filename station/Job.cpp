#include "Job.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include <toml++/toml.h>

#include "AuditLog.h"
#include "FirmwareFile.h"
#include "FirmwareImage.h"
#include "SectorInf.h"
#include "Sha256.h"
#include "WholeFile.h"

namespace quorvex::station {
namespace {

// A job file is a few dozen lines; anything near this is not one.
constexpr std::size_t kJobFileLimit = std::size_t{1} << 20;
constexpr std::int64_t kFirstSector = 1;
constexpr std::int64_t kLastSector = 64;
constexpr std::size_t kDigestDigits = 64;

// Text from the job file as it goes into a one-line message: control characters (a quoted key
// or string may hold a newline) are shown as \xNN, everything else as written.
std::string Printable(std::string_view text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      out += "\\x";
      out += kDigits[byte >> 4];
      out += kDigits[byte & 0xf];
    } else {
      out += c;
    }
  }
  return out;
}

std::string Quoted(std::string_view key) { return "'" + Printable(key) + "'"; }

const char* TypeName(toml::node_type type) {
  switch (type) {
    case toml::node_type::string:
      return "a string";
    case toml::node_type::integer:
      return "an integer";
    case toml::node_type::floating_point:
      return "a floating-point number";
    case toml::node_type::boolean:
      return "a boolean";
    case toml::node_type::date:
      return "a date";
    case toml::node_type::time:
      return "a time";
    case toml::node_type::date_time:
      return "a date-time";
    case toml::node_type::array:
      return "an array";
    case toml::node_type::table:
      return "a table";
    case toml::node_type::none:
      break;
  }
  return "nothing";
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// One [[sector]] entry whose keys and types are right, before its file is looked at.
struct SectorEntry {
  int index = 0;  // its place among the [[sector]] entries, from 1
  int number = 0;
  std::string file;  // as written
  std::optional<std::string> pin;
  std::uint32_t line = 0;      // of the entry
  std::uint32_t fileLine = 0;  // of its 'file'
  std::uint32_t pinLine = 0;   // of its 'sha256'
};

struct Fault {
  std::uint32_t line = 0;                         // the line told
  std::pair<std::uint32_t, std::uint32_t> place;  // where it is found when reading, for order
  std::string what;
};

// Walks the parsed job and notes every key, type and value at fault, so that the one that
// comes first in the file is reported whatever order the tables keep their keys in.
class Checker {
 public:
  // False when the checks found a fault; First() is the earliest.
  bool Check(const toml::table& root) {
    for (const auto& [key, node] : root) {
      if (key.str() == "sector") {
        CheckSectors(key, node);
      } else if (key.str() == "station") {
        CheckStation(node);
      } else {
        Add(key.source(), "unknown key " + Quoted(key.str()));
      }
    }
    CheckNumbersOnce();
    return faults_.empty();
  }

  [[nodiscard]] const Fault& First() const {
    return *std::min_element(faults_.begin(), faults_.end(),
                             [](const Fault& a, const Fault& b) { return a.place < b.place; });
  }

  std::vector<SectorEntry> sectors;
  std::vector<std::string> slots;
  bool overwrite = false;
  std::vector<std::string> onResult;

 private:
  void Add(const toml::source_region& where, std::string what) {
    faults_.push_back({where.begin.line, {where.begin.line, where.begin.column}, std::move(what)});
  }

  // A key missing from a table is told at the table's start, but it is only known missing once
  // the table is read: a misspelt key in it comes first and says more.
  void AddMissing(const toml::table& table, std::string what) {
    std::pair<std::uint32_t, std::uint32_t> end{table.source().begin.line,
                                                table.source().begin.column};
    for (const auto& [key, node] : table) {
      end = std::max(end, std::pair(node.source().end.line, node.source().end.column));
    }
    faults_.push_back({table.source().begin.line, end, std::move(what)});
  }

  void CheckSectors(const toml::key& key, const toml::node& node) {
    const toml::array* entries = node.as_array();
    if (entries == nullptr) {
      Add(node.source(), "'sector' must be an array of tables ([[sector]]), not " +
                             std::string(TypeName(node.type())));
      return;
    }
    if (entries->empty()) {
      Add(key.source(), "'sector' is empty: the job programs nothing");
      return;
    }
    int index = 0;
    for (const toml::node& element : *entries) {
      ++index;
      const toml::table* table = element.as_table();
      if (table == nullptr) {
        Add(element.source(), "sector " + std::to_string(index) + " must be a table, not " +
                                  TypeName(element.type()));
        continue;
      }
      CheckSector(index, *table);
    }
  }

  void CheckSector(int index, const toml::table& table) {
    const std::string entry = "sector " + std::to_string(index);
    SectorEntry sector;
    sector.index = index;
    sector.line = table.source().begin.line;
    bool complete = true;
    bool numbered = false;
    bool hasFile = false;
    for (const auto& [key, node] : table) {
      if (key.str() == "number") {
        numbered = true;
        const auto* number = node.as_integer();
        if (number == nullptr) {
          Add(node.source(), entry + ": 'number' must be an integer, not " + TypeName(node.type()));
          complete = false;
        } else if (number->get() < kFirstSector || number->get() > kLastSector) {
          Add(node.source(),
              entry + ": 'number' must be 1 to 64, not " + std::to_string(number->get()));
          complete = false;
        } else {
          sector.number = static_cast<int>(number->get());
          numbers_.push_back({index, sector.number, sector.line, node.source()});
        }
      } else if (key.str() == "file") {
        hasFile = true;
        const auto* file = node.as_string();
        if (file == nullptr) {
          Add(node.source(), entry + ": 'file' must be a string, not " + TypeName(node.type()));
          complete = false;
        } else if (file->get().empty()) {
          Add(node.source(), entry + ": 'file' is empty");
          complete = false;
        } else {
          sector.file = file->get();
          sector.fileLine = node.source().begin.line;
        }
      } else if (key.str() == "sha256") {
        const auto* pin = node.as_string();
        if (pin == nullptr) {
          Add(node.source(), entry + ": 'sha256' must be a string of 64 hexadecimal digits, not " +
                                 TypeName(node.type()));
          complete = false;
          continue;
        }
        const std::string& digits = pin->get();
        if (digits.size() != kDigestDigits) {
          Add(node.source(), entry + ": 'sha256' must be 64 hexadecimal digits, not " +
                                 std::to_string(digits.size()) + " characters");
          complete = false;
          continue;
        }
        const auto bad = std::find_if_not(digits.begin(), digits.end(), IsHexDigit);
        if (bad != digits.end()) {
          Add(node.source(), entry + ": 'sha256' must be 64 hexadecimal digits, and character " +
                                 std::to_string(bad - digits.begin() + 1) + " is not one");
          complete = false;
          continue;
        }
        sector.pin = Lower(digits);
        sector.pinLine = node.source().begin.line;
      } else {
        Add(key.source(), "unknown key " + Quoted(key.str()) + " in " + entry);
      }
    }
    if (!numbered) {
      AddMissing(table, entry + ": 'number' is missing");
      complete = false;
    }
    if (!hasFile) {
      AddMissing(table, entry + ": 'file' is missing");
      complete = false;
    }
    if (complete) sectors.push_back(std::move(sector));
  }

  // The entries are walked in the file's order, so the later of two entries is the one told.
  void CheckNumbersOnce() {
    std::map<int, const NumberAt*> first;  // by number
    for (const NumberAt& at : numbers_) {
      const auto [it, fresh] = first.try_emplace(at.number, &at);
      if (fresh) continue;
      Add(at.where, "sector " + std::to_string(at.index) + ": number " + std::to_string(at.number) +
                        " is already programmed by sector " + std::to_string(it->second->index) +
                        " (line " + std::to_string(it->second->entryLine) + ")");
    }
  }

  void CheckStation(const toml::node& node) {
    const toml::table* table = node.as_table();
    if (table == nullptr) {
      Add(node.source(), "'station' must be a table, not " + std::string(TypeName(node.type())));
      return;
    }
    for (const auto& [key, value] : *table) {
      if (key.str() == "slots") {
        CheckStrings("slots", value, &slots);
      } else if (key.str() == "on-result") {
        if (CheckStrings("on-result", value, &onResult) && onResult.empty()) {
          Add(value.source(), "station: 'on-result' is empty: leave it out for no program");
        }
      } else if (key.str() == "overwrite") {
        const auto* flag = value.as_boolean();
        if (flag == nullptr) {
          Add(value.source(), "station: 'overwrite' must be true or false, not " +
                                  std::string(TypeName(value.type())));
        } else {
          overwrite = flag->get();
        }
      } else {
        Add(key.source(), "unknown key " + Quoted(key.str()) + " in [station]");
      }
    }
  }

  // An array of non-empty strings. False, with its faults noted, when it is not one.
  bool CheckStrings(const char* name, const toml::node& node, std::vector<std::string>* into) {
    const std::string what = std::string("station: '") + name + "'";
    const toml::array* array = node.as_array();
    if (array == nullptr) {
      Add(node.source(), what + " must be an array of strings, not " + TypeName(node.type()));
      return false;
    }
    bool good = true;
    std::size_t place = 0;
    for (const toml::node& element : *array) {
      ++place;
      const auto* text = element.as_string();
      if (text == nullptr) {
        Add(element.source(), what + " must be an array of strings, and entry " +
                                  std::to_string(place) + " is " + TypeName(element.type()));
        good = false;
      } else if (text->get().empty()) {
        Add(element.source(), what + " entry " + std::to_string(place) + " is empty");
        good = false;
      } else {
        into->push_back(text->get());
      }
    }
    return good;
  }

  // A good 'number', in the order the entries are written.
  struct NumberAt {
    int index = 0;
    int number = 0;
    std::uint32_t entryLine = 0;
    toml::source_region where;
  };

  std::vector<Fault> faults_;
  std::vector<NumberAt> numbers_;
};

// The sector's file against the job file's folder, unless it is absolute. As u8 paths, so that
// Windows takes the UTF-8 bytes through its wide calls.
std::string ResolvedFile(const std::string& jobPath, const std::string& file) {
  const std::filesystem::path folder =
      std::filesystem::path(std::u8string(jobPath.begin(), jobPath.end())).parent_path();
  const std::u8string joined = (folder / std::u8string(file.begin(), file.end())).u8string();
  return {joined.begin(), joined.end()};
}

}  // namespace

bool LoadJob(const std::string& path, Job* job, std::string* error) {
  auto fail = [&](std::uint32_t line, const std::string& what) {
    *error = path + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + what;
    return false;
  };

  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(path, bytes, kJobFileLimit)) {
    return fail(0, "the job file cannot be opened");
  }
  if (bytes.size() > kJobFileLimit) {
    return fail(0, "the job file is larger than 1 MiB: this is not a job");
  }
  const std::string text(bytes.begin(), bytes.end());

  toml::table root;
  try {
    root = toml::parse(text, path);
  } catch (const toml::parse_error& e) {
    return fail(e.source().begin.line, Printable(e.description()));
  }

  Checker checker;
  if (!checker.Check(root)) {
    const Fault& first = checker.First();
    return fail(first.line, first.what);
  }
  if (checker.sectors.empty()) return fail(0, "no [[sector]]: the job programs nothing");

  Job result;
  result.path = AbsolutePath(path);
  result.slots = std::move(checker.slots);
  result.overwrite = checker.overwrite;
  result.onResult = std::move(checker.onResult);

  // Only now, every key known good, are the files read, in the order they are programmed.
  // Two file-sized buffers, kept off the stack of whichever thread reads the job.
  auto raw = std::make_unique<FileBytes>();
  auto image = std::make_unique<FileBytes>();
  for (const SectorEntry& entry : checker.sectors) {
    const std::string file = AbsolutePath(ResolvedFile(result.path, entry.file));
    std::string theFile = "sector " + std::to_string(entry.index) + " (number ";
    theFile += std::to_string(entry.number);
    theFile += "): the file ";
    theFile += Printable(file);
    std::uint32_t size = 0;
    switch (ReadFirmwareFile(file, *raw, &size)) {
      case FileStatus::Ok:
        break;
      case FileStatus::CannotOpen:
        return fail(entry.fileLine, theFile + " cannot be opened");
      case FileStatus::WrongSize:
        theFile += " is not a firmware file: it must hold exactly ";
        theFile += std::to_string(kFileSize);
        theFile += " bytes";
        if (size > 0 && size != kFileSize) theFile += ", not " + std::to_string(size);
        return fail(entry.fileLine, theFile);
    }
    // The digest is of the file as it is on the disk; decoding unscrambles it in place.
    const std::string digest = Sha256Hex(raw->data(), raw->size());
    if (entry.pin && *entry.pin != digest) {
      theFile += " has SHA-256 ";
      theFile += digest;
      theFile += ", not the pinned ";
      theFile += *entry.pin;
      return fail(entry.pinLine, theFile);
    }
    DecodeImage(*raw, *image);
    result.sectors.push_back({entry.number, file, digest, SectorName(DeriveSectorInf(*image)),
                              static_cast<int>(entry.line)});
  }

  *job = std::move(result);
  return true;
}

}  // namespace quorvex::station
