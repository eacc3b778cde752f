// The system clocks and the replaceable clock in force.
#include "platform/clock.h"

#include <atomic>
#include <cmath>

namespace platform {
namespace {

uint64_t ClockMilliseconds(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000ULL + static_cast<uint64_t>(ts.tv_nsec) / 1000000ULL;
}

Clock g_systemClock;
std::atomic<Clock*> g_clock{nullptr};

}  // namespace

uint32_t Clock::TickCount() {
  // Wraps after 49.7 days, as the Windows tick count does; users compare by subtraction.
  return static_cast<uint32_t>(ClockMilliseconds(CLOCK_MONOTONIC));
}

uint64_t Clock::MillisecondsSinceBoot() { return ClockMilliseconds(CLOCK_BOOTTIME); }

std::time_t Clock::Now() { return std::time(nullptr); }

Clock& CurrentClock() {
  Clock* clock = g_clock.load(std::memory_order_acquire);
  return clock != nullptr ? *clock : g_systemClock;
}

void SetClockForTesting(Clock* clock) { g_clock.store(clock, std::memory_order_release); }

double TimeToDateTime(std::time_t t) {
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return 0.0;
  // Days from 1899-12-30 to the local calendar date, counted through the proleptic
  // Gregorian calendar (days from civil), then the time of day as the fraction.
  int64_t y = static_cast<int64_t>(local.tm_year) + 1900;
  int64_t m = local.tm_mon + 1;
  int64_t d = local.tm_mday;
  y -= m <= 2 ? 1 : 0;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  int64_t daysSinceUnixEpoch = era * 146097 + doe - 719468;
  constexpr int64_t kDaysFrom1899To1970 = 25569;
  double days = static_cast<double>(daysSinceUnixEpoch + kDaysFrom1899To1970);
  double fraction = (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec) / 86400.0;
  return days + fraction;
}

double NowAsDateTime() { return TimeToDateTime(CurrentClock().Now()); }

}  // namespace platform
