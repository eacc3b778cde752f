#include "views/StatusLabels.h"

#include <cmath>
#include <ctime>

#include "common/Utils.h"

namespace views {

QString RemainStartTimeText(uint32_t remainMs) {
  const uint32_t minutes = remainMs / 1000 / 60;
  const uint32_t seconds = remainMs / 1000 - minutes * 60;
  return QString::fromStdString(
      FormatText("RemainStartTime: %dMin%dSec", static_cast<int>(minutes), static_cast<int>(seconds)));
}

QString FatalErrorText(int count, double lastFatalTime) {
  if (lastFatalTime == 0) return QString::fromStdString(FormatText("FatalError : %d", count));
  return QString::fromStdString(FormatText("FatalErrorCount : %d, Time : ", count)) + TimeOfDayText(lastFatalTime);
}

QString TimeOfDayText(double dateTime) {
  // The fraction's size is the time of day, also for days before 1899-12-30.
  const double fraction = std::isfinite(dateTime) ? std::fabs(dateTime - std::trunc(dateTime)) : 0.0;
  // Rounded to the millisecond first, as a fraction rarely holds a whole second exactly.
  long long second = std::llround(fraction * 86400000.0) / 1000;
  if (second >= 86400) second = 86399;
  std::tm time{};
  time.tm_hour = static_cast<int>(second / 3600);
  time.tm_min = static_cast<int>(second / 60 % 60);
  time.tm_sec = static_cast<int>(second % 60);
  time.tm_mday = 1;
  time.tm_year = 100;
  char text[64];
  const std::size_t length = std::strftime(text, sizeof text, "%X", &time);
  return QString::fromLocal8Bit(text, static_cast<qsizetype>(length));
}

}  // namespace views
