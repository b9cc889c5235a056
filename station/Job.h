#pragma once

#include <string>
#include <vector>

namespace quorvex::station {

// One sector the job programs into every unit, its file checked when the job was read.
struct JobSector {
  int number = 0;      // 1..64
  std::string file;    // absolute UTF-8 path
  std::string sha256;  // of the file's bytes, 64 lower-case hex digits
  std::string name;    // the sector name the file's information block writes
  int line = 0;        // where its [[sector]] entry starts in the job file
};

// What a station does with every unit: the sectors in the order they are programmed, the
// slots, and what happens at the end of each unit.
struct Job {
  std::string path;                // the job file, absolute
  std::vector<JobSector> sectors;  // at least one, each number once
  std::vector<std::string> slots;  // any -p form, as written; may be empty
  bool overwrite = false;          // a written sector is overwritten; false: the unit is declined
  std::vector<std::string> onResult;  // the hook's program and arguments; empty: none
};

// Reads the job file and checks it whole: the keys and their types, the sectors (1 to 64,
// each once), and every file (opened, size-checked, hashed, compared with its pin). Nothing is
// opened but files. False with *error set to one line naming the job file, the line and the
// key or entry at fault: "job.toml:7: sector 2 (number 7): ...".
bool LoadJob(const std::string& path, Job* job, std::string* error);

}  // namespace quorvex::station
