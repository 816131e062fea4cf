#include "runtime/timing/kel_timeout.h"

#include <atomic>

#include "platform/port.h"

namespace kel {

namespace {

TTickClock SystemClock() {
  TTickClock c;
  c.tick32 = &port::TickCount32;
  if (port::HasTickCount64()) c.tick64 = &port::TickCount64;
  return c;
}

// Chosen once when the library is loaded.
TTickClock g_clock = SystemClock();

}  // namespace

const TTickClock& TimeoutClock() { return g_clock; }

void SetTimeoutClock(const TTickClock& clock) {
  g_clock = (clock.tick64 || clock.tick32) ? clock : SystemClock();
}

uint64_t TkelTimeout::Now() {
  const TTickClock& c = g_clock;
  if (c.tick64) return c.tick64();
  const uint32_t reading = c.tick32();
  if (reading < LastTick) ++WrapCount;
  LastTick = reading;
  return (static_cast<uint64_t>(WrapCount) << 32) | reading;
}

void TkelTimeout::Start() {
  const TTickClock& c = g_clock;
  if (c.tick64) {
    StartTime = c.tick64();
    LastTick = static_cast<uint32_t>(StartTime);
    WrapCount = static_cast<uint32_t>(StartTime >> 32);
  } else {
    // A fresh record starts its own wrap count at the current reading.
    LastTick = c.tick32();
    WrapCount = 0;
    StartTime = LastTick;
  }
  // A reading of exactly 0 would look clear; the clock is a millisecond off.
  if (StartTime == 0) StartTime = 1;
  Deadline = 0;
  Armed = 0;
}

void TkelTimeout::StartWith(uint32_t duration) {
  Start();
  Duration = duration;
  Deadline = StartTime + duration;
  Armed = 1;
}

bool TkelTimeout::Expired(uint32_t d) {
  if (IsClear()) return true;
  if (!Armed) {
    Duration = d;
    Deadline = StartTime + d;
  }
  return Now() >= Deadline;
}

}  // namespace kel
