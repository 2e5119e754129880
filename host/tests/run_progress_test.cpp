// What a run's progress says beside the percentage: the phase's time left and the bytes
// of a dump, from positions and times that the test sets.
#include "host/core/run_progress.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "framework/plugin_abi.h"

namespace velmora {
namespace {

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * kKiB;

TEST(RunProgressTest, TimeLeftIsThatOfThePhaseUnderWay) {
  struct Step {
    long position;
    std::uint64_t atMs;
    const char* detail;  // at that moment
  };
  // A connection (0 to 100 in 20 s), then an erase that starts again at 0.
  const Step steps[] = {
      {0, 0, ""},
      {1, 1000, ""},             // too little of the phase to tell
      {20, 4000, "0:16 left"},   // 20 % in 4 s: 16 s to go
      {50, 10000, "0:10 left"},  // the pace holds
      {100, 20000, ""},          // done: nothing left to say
      {0, 20000, ""},            // the next phase starts afresh
      {10, 30000, "1:30 left"},  // 10 % in 10 s
  };
  RunProgress progress;
  progress.Start(0);
  for (const Step& step : steps) {
    progress.Position(step.position, step.atMs);
    EXPECT_EQ(progress.Detail(step.atMs), step.detail) << step.position << "% at " << step.atMs;
  }
  // Between positions the time left counts down, and never below zero.
  EXPECT_EQ(progress.Detail(35000), "1:25 left");
  EXPECT_EQ(progress.Detail(500000), "0:00 left");
}

TEST(RunProgressTest, ADumpSaysItsBytesAndTheirWholeOnceThePositionsTellIt) {
  struct Step {
    long position;
    std::uint64_t bytes;
    const char* detail;
  };
  // A 1 MiB file system, reported as the device reports it: first after 32 blocks of
  // 1 KiB, then every 33. At the end the whole file is there.
  const Step oneMiB[] = {
      {0, 0, "0 KiB"},
      {3, 32 * kKiB, "32 of 1,024 KiB"},
      {37, 384 * kKiB, "384 of 1,024 KiB"},
      {100, kMiB, "1,024 of 1,024 KiB"},
  };
  RunProgress progress;
  progress.Start(0);
  for (const Step& step : oneMiB) {
    progress.Position(step.position, 0, step.bytes);
    EXPECT_EQ(progress.Detail(0), step.detail) << step.position;
  }
  // 4 MiB: the first positions leave the size open, later ones close it.
  const Step fourMiB[] = {
      {0, 32 * kKiB, "32 KiB"},
      {1, 65 * kKiB, "65 KiB"},
      {2, 98 * kKiB, "98 of 4,096 KiB"},
      {50, 2048 * kKiB, "2,048 of 4,096 KiB"},
  };
  progress.Start(0);
  progress.Position(100, 0);  // the connection, with no file yet
  for (const Step& step : fourMiB) {
    progress.Position(step.position, 0, step.bytes);
    EXPECT_EQ(progress.Detail(0), step.detail) << step.position;
  }
}

TEST(RunProgressTest, CountsAndEndedWords) {
  EXPECT_EQ(GroupDigits(0), "0");
  EXPECT_EQ(GroupDigits(999), "999");
  EXPECT_EQ(GroupDigits(1024), "1,024");
  EXPECT_EQ(GroupDigits(1234567), "1,234,567");
  EXPECT_EQ(FormatKiB(384 * kKiB, kMiB), "384 of 1,024 KiB");
  EXPECT_EQ(FormatKiB(1536, std::nullopt), "1 KiB");
  EXPECT_EQ(EndedBarWord(OPERATION_SUCCEEDED, false), "");
  EXPECT_EQ(EndedBarWord(OPERATION_CANCELED, false), "cancelled");
  EXPECT_EQ(EndedBarWord(OPERATION_FAILED, false), "failed");
  EXPECT_EQ(EndedBarWord(OPERATION_CANCELED, true), "failed");
}

}  // namespace
}  // namespace velmora
