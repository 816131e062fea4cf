// A time-out record measuring milliseconds on a 64-bit scale, and the clock
// all of the module's timing reads.
//
// The clock is the system's 64-bit millisecond tick count when the system has
// one (looked up once); otherwise the 32-bit tick count, which each record
// extends to 64 bits by counting its wraps.  Tests replace the clock.
#pragma once

#include <cstdint>

namespace kel {

// The clock's two readings.  tick64 is null when only the 32-bit count exists.
struct TTickClock {
  uint64_t (*tick64)() = nullptr;
  uint32_t (*tick32)() = nullptr;
};

// The clock in use; the system's unless replaced.
const TTickClock& TimeoutClock();
// Replaces the clock (tests); a clock without either reading restores the
// system's.
void SetTimeoutClock(const TTickClock& clock);

struct TkelTimeout {
  uint64_t StartTime = 0;  // 0: clear
  uint64_t Deadline = 0;
  uint32_t LastTick = 0;
  uint32_t WrapCount = 0;
  uint32_t Duration = 0;
  uint8_t Armed = 0;

  // The clock's reading, extended through this record's wrap count when only
  // the 32-bit count exists.
  uint64_t Now();

  void Clear() { *this = TkelTimeout{}; }
  bool IsClear() const { return StartTime == 0; }
  void Start();
  void StartWith(uint32_t duration);
  void Restart() { Armed ? StartWith(Duration) : Start(); }
  // True when clear; otherwise whether d milliseconds have passed since the
  // start (a record started with a fixed duration keeps its own).
  bool Expired(uint32_t d);
  bool Expired() { return Now() >= Deadline; }
  // As Expired(d) with the clock read once by the caller (for a scan of many
  // records); only where the clock is 64 bits wide (HasWideClock).
  bool ExpiredAt(uint32_t d, uint64_t now) {
    if (IsClear()) return true;
    if (!Armed) {
      Duration = d;
      Deadline = StartTime + d;
    }
    return now >= Deadline;
  }
  static bool HasWideClock() { return TimeoutClock().tick64 != nullptr; }
  static uint64_t WideNow() { return TimeoutClock().tick64(); }
};

}  // namespace kel
