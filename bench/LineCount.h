#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace quorvex::bench {

// What one command put on the line: the bytes in each direction and the pauses the device
// code asked for. The line is full duplex, but the loader's exchange is strictly request and
// reply, so the two directions never overlap and their times add up.
struct LineTraffic {
  std::size_t toInstrument = 0;
  std::size_t fromInstrument = 0;
  std::size_t pauses = 0;  // how many pauses were asked for
  std::chrono::milliseconds pauseTime{0};

  // The least time a run can take: every byte at 160 us (62,500 baud, 10 bits a byte) plus
  // every mandated pause.
  [[nodiscard]] double LimitSeconds() const;
};

// Runs the programming sequence (firmware file into sector `sector`) or the sector listing
// in this process, through the real serial code, against a simulated instrument on a
// pseudo-terminal with no pacing, and counts what crossed the line. The instrument's own
// record of the bytes it received must agree with the count. False with *error set when
// the run failed or the counts disagree.
bool CountProgramming(const std::string& firmwareFile, int sector, LineTraffic* traffic,
                      std::string* error);
bool CountListing(LineTraffic* traffic, std::string* error);

// The counts and the limit, two lines headed `what` ("program", "list").
void PrintTraffic(const char* what, const LineTraffic& traffic);

}  // namespace quorvex::bench
