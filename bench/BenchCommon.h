#pragma once

// What every measurement of the benchmark shares: the way out when one fails, the temporary
// folder that way out removes, medians, the load average, and the quorvex-cli command lines.
#include <filesystem>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace quorvex::bench {

// Prints "quorvex-bench: <text>" to stderr, kills every child still running, removes the
// temporary folder and exits with 1, skipping the destructors.
[[noreturn]] void Fail(const std::string& text);

// A new folder under the system's temporary folder, removed by Fail (and by the caller on
// the ordinary way out).
std::filesystem::path MakeTemporaryFolder();

// A sample firmware in `folder`: a full image with a named, written information block.
std::filesystem::path WriteSampleFirmware(const std::filesystem::path& folder);

double Median(std::vector<double> values);

// "1.00 0.50 0.25", or "unknown".
std::string LoadAverage();

const char* Verdict(bool met);

// How a child that did not succeed ended, for the failure message.
std::string HowItEnded(const process::ChildCost& cost);

std::vector<std::string> ProgramCommand(const std::filesystem::path& cli, const std::string& port,
                                        const std::filesystem::path& firmware, int sector);
std::vector<std::string> ListCommand(const std::filesystem::path& cli, const std::string& port);

}  // namespace quorvex::bench
