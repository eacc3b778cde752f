// Clocks. Every rule that depends on time reads it here, so tests can replace it.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Tick count and multimedia timer: CLOCK_MONOTONIC milliseconds as unsigned 32 bits.
  virtual uint32_t TickCount();
  // Milliseconds since boot (CLOCK_BOOTTIME).
  virtual uint64_t MillisecondsSinceBoot();
  // Wall-clock time (seconds since the epoch, UTC).
  virtual std::time_t Now();
};

// The clock in force; a test may install its own (nullptr restores the system clock).
Clock& CurrentClock();
void SetClockForTesting(Clock* clock);

inline uint32_t GetTickCount() { return CurrentClock().TickCount(); }
inline uint32_t TimeGetTime() { return CurrentClock().TickCount(); }
inline uint64_t GetMillisecondsSinceBoot() { return CurrentClock().MillisecondsSinceBoot(); }

// The local date and time as a Windows TDateTime: days since 1899-12-30 with the time of
// day as the fraction.
double NowAsDateTime();
double TimeToDateTime(std::time_t t);

}  // namespace platform
