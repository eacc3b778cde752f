// Crash reporting: handlers for fatal signals and uncaught C++ exceptions that write a
// report with the call stack to the log directory and to standard error, and, per thread,
// the last exception that the thread caught and recorded.
//
// Every C++ throw notes the call stack of the throwing thread at the moment of the throw
// (a few per thread, without allocating), so that a catch block far from the throw can
// still tell where the exception came from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Installs the handlers (once; later calls do nothing). `reportDir` ends in "/".
void InstallCrashReporting(const std::string& reportDir);
// True once the handlers are installed and still in place.
bool IsCrashReportingActive();

// Records the exception being handled as this thread's last exception; a catch block calls
// it. It keeps the exception's type and message, and the call stack of the throw when this
// thread threw it (else the stack of the catch block), the throwing function first.
void RecordExceptionCallStack();
// This thread's recorded stack as text lines. False with `error` set when this thread
// recorded none or it cannot be resolved.
bool GetLastExceptionCallStack(std::vector<std::string>& lines, std::string& error);
// This thread's last recorded exception: "<type>: <message>" (the type alone when it
// carries no message), and the address of its throw as an offset in the module that
// threw (stable from run to run). False when this thread recorded none.
bool GetLastException(std::string& description, uint32_t& address);

}  // namespace platform
