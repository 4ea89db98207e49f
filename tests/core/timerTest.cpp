#include "timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

namespace {

void sleepFor(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

TEST(TimerDeathTest, KeyWordMustMatchExactly) {
  EXPECT_EXIT(Timer("CPU"), ::testing::ExitedWithCode(1),
              "Timer: keystring \"CPU\" is unknown\n");
  EXPECT_EXIT(Timer("Real"), ::testing::ExitedWithCode(1),
              "Timer: keystring \"Real\" is unknown\n");
  EXPECT_EXIT(Timer("cpu "), ::testing::ExitedWithCode(1),
              "Timer: keystring \"cpu \" is unknown\n");
  EXPECT_EXIT(Timer(""), ::testing::ExitedWithCode(1),
              "Timer: keystring \"\" is unknown\n");
}

TEST(TimerTest, CounterTimerIsNeverNegativeAndNeverRunsBackwards) {
  Timer timer("cpu");
  double previous = timer.elapsed();
  EXPECT_GE(previous, 0.0);
  EXPECT_LT(previous, 1.0);
  for (int k = 0; k < 10000; ++k) {
    const double now = timer.elapsed();
    ASSERT_GE(now, previous);
    previous = now;
  }
}

TEST(TimerTest, CounterTimerMeasuresSecondsOfWallTime) {
  Timer timer("cpu");
  const double before = timer.absolute();
  sleepFor(0.05);
  const double slept = timer.absolute() - before;
  EXPECT_GE(slept, 0.05);
  EXPECT_LT(slept, 5.0);
  EXPECT_GE(timer.elapsed(), slept);
}

TEST(TimerTest, CalendarTimerReadsWholeSeconds) {
  const double calendar = static_cast<double>(std::time(nullptr));
  Timer timer("real");
  const double reading = timer.absolute();
  EXPECT_EQ(reading, std::floor(reading));
  EXPECT_GE(reading, calendar);
  EXPECT_LE(reading, calendar + 1.0);
  const double elapsed = timer.elapsed();
  EXPECT_EQ(elapsed, std::floor(elapsed));
  EXPECT_GE(elapsed, 0.0);
  EXPECT_LE(elapsed, 1.0);
}

TEST(TimerTest, StoppedTimerHoldsItsReadingAndResumesWithoutTheGap) {
  Timer timer("cpu");
  sleepFor(0.02);
  timer.stop();
  const double held = timer.elapsed();
  EXPECT_GE(held, 0.02);
  sleepFor(0.2);
  EXPECT_EQ(timer.elapsed(), held);
  timer.stop();  // stopping again keeps the first stop
  EXPECT_EQ(timer.elapsed(), held);

  timer.resume();
  const double resumed = timer.elapsed();
  EXPECT_GE(resumed, held);
  EXPECT_LT(resumed, held + 0.1);  // the 0.2 s stopped are left out
  timer.resume();                   // resuming a running timer changes nothing
  EXPECT_GE(timer.elapsed(), resumed);
  EXPECT_LT(timer.elapsed(), held + 0.1);
}

TEST(TimerTest, StartBeginsAgainFromZero) {
  Timer timer("cpu");
  timer.stop();
  sleepFor(0.2);
  timer.resume();
  timer.start();
  const double restarted = timer.elapsed();
  EXPECT_GE(restarted, 0.0);
  EXPECT_LT(restarted, 0.1);
  sleepFor(0.02);
  EXPECT_GE(timer.elapsed(), 0.02);  // no stopped time left over to subtract
}

TEST(TimerTest, ConversionToDoubleReadsElapsed) {
  Timer timer("cpu");
  sleepFor(0.01);
  const double before = timer.elapsed();
  const double converted = timer;
  const double after = timer.elapsed();
  EXPECT_LE(before, converted);
  EXPECT_LE(converted, after);
  timer.stop();
  EXPECT_EQ(static_cast<double>(timer), timer.elapsed());
}

}  // namespace
