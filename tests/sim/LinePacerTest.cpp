// Line time: 160 us a byte, counted from absolute times so lateness never adds up.
#include "LinePacer.h"

#include <gtest/gtest.h>

namespace quorvex::sim {
namespace {

using namespace std::chrono_literals;
using TimePoint = LinePacer::Clock::time_point;

TEST(LinePacer, BurstTakesLineTimeAndAPauseRestartsIt) {
  LinePacer pacer(true);
  const TimePoint start{1s};
  EXPECT_EQ(pacer.Incoming(start), start + 160us);
  EXPECT_EQ(pacer.Incoming(start), start + 320us);  // read together, still one after another
  EXPECT_EQ(pacer.Incoming(start + 10ms), start + 10ms + 160us);
  // Each direction keeps its own time.
  EXPECT_EQ(pacer.Outgoing(start), start + 160us);
}

TEST(LinePacer, DisabledTakesNoTime) {
  LinePacer pacer(false);
  const TimePoint start{1s};
  EXPECT_EQ(pacer.Incoming(start), start);
  EXPECT_EQ(pacer.Outgoing(start), start);
}

}  // namespace
}  // namespace quorvex::sim
