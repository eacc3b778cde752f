// The thread framework's info writer: a line on standard output when the process is run
// as a console program at a terminal (see HasConsoleWindow; never the manager itself), and
// always a line in the log at the info level.
#pragma once

#include "interfaces/ILog.h"

// Formats the message; at a terminal prints "<date and time>\t<message>\n" to standard
// output; then writes the message with LogInfo.
void WriteInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
