#ifndef TIMER_H
#define TIMER_H

#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <iostream>

#include "lifecycle.h"

// Wall time of a run, from one of two sources chosen by a key word:
// "cpu" reads the monotonic high-resolution counter, "real" the calendar
// clock in whole seconds. Any other key word (the comparison is exact) is
// fatal. The timer runs from its construction; stop() and resume() leave the
// stopped time out of elapsed(), start() begins again from zero.
class Timer {
 public:
  explicit Timer(const char* keystring) {
    if (keystring != nullptr && std::strcmp(keystring, "cpu") == 0) {
      real_time_ = 0;
    } else if (keystring != nullptr && std::strcmp(keystring, "real") == 0) {
      real_time_ = 1;
    } else {
      std::cerr << "Timer: keystring \"" << (keystring ? keystring : "")
                << "\" is unknown\n";
      lifecycle::exitNow(1);
    }
    start();
  }

  // The current reading of the source, in seconds from its own origin.
  double absolute() const {
    if (real_time_ != 0) return static_cast<double>(std::time(nullptr));
    using Clock = std::chrono::steady_clock;
    if (qpf_initialized == 0) {
      // Counts per second of the counter; a tick longer than a second
      // leaves no usable frequency.
      qpf_freq = static_cast<std::int64_t>(Clock::period::den /
                                           Clock::period::num);
      if (qpf_freq <= 0) {
        std::cerr << "Timer: could not obtain frequency\n";
        lifecycle::exitNow(1);
      }
      qpf_initialized = 1;
    }
    const std::int64_t count = Clock::now().time_since_epoch().count();
    return static_cast<double>(count) / static_cast<double>(qpf_freq);
  }

  // Seconds run since the start, without the time spent stopped.
  double elapsed() const {
    return (isRunning_ != 0 ? absolute() - startTime_
                            : stopTime_ - startTime_) -
           stopInterval_;
  }

  // Starts afresh from zero, running.
  void start() {
    isRunning_ = 1;
    stopInterval_ = 0.0;
    startTime_ = absolute();
    stopTime_ = startTime_;
  }

  // Holds the reading; a timer already stopped stays as it is.
  void stop() {
    if (isRunning_ == 0) return;
    stopTime_ = absolute();
    isRunning_ = 0;
  }

  // Runs on from where stop() held it; a running timer is left alone.
  void resume() {
    if (isRunning_ != 0) return;
    stopInterval_ += absolute() - stopTime_;
    isRunning_ = 1;
  }

  operator double() const { return elapsed(); }

 private:
  int real_time_;  // 0: high-resolution counter, 1: calendar clock
  int isRunning_;
  double startTime_;
  double stopTime_;
  double stopInterval_;

  // Frequency of the counter, asked once per process at the first reading.
  inline static std::int64_t qpf_freq = 0;
  inline static int qpf_initialized = 0;
};

#endif
