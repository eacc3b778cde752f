// The texts of the labels that the refresh tick rewrites: the remaining start time and the
// fatal-error count with the time of day of the last fatal line.
#pragma once

#include <QString>
#include <cstdint>

namespace views {

// "RemainStartTime: %dMin%dSec" for a remaining time in milliseconds.
QString RemainStartTimeText(uint32_t remainMs);
// "FatalError : %d" while there was no fatal line (time 0), otherwise
// "FatalErrorCount : %d, Time : %s" with the time of day of `lastFatalTime`.
QString FatalErrorText(int count, double lastFatalTime);
// The time of day of a date and time (days since 1899-12-30, the time of day as the
// fraction) in the platform's long time format (the locale's own time representation).
// Never the date; a value that is no number gives midnight.
QString TimeOfDayText(double dateTime);

}  // namespace views
