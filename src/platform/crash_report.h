// Crash reporting: handlers for fatal signals and uncaught C++ exceptions that write a
// report with the call stack to the log directory and to standard error, and the call
// stack of the last exception that the program caught and recorded.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Installs the handlers (once; later calls do nothing). `reportDir` ends in "/".
void InstallCrashReporting(const std::string& reportDir);
// True once the handlers are installed and still in place.
bool IsCrashReportingActive();

// Records the current call stack as that of the last exception; a catch block calls it.
void RecordExceptionCallStack();
// The recorded stack as text lines. False with `error` set when none was recorded or it
// cannot be resolved.
bool GetLastExceptionCallStack(std::vector<std::string>& lines, std::string& error);

}  // namespace platform
