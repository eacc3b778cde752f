// Crash reporting: fatal signals and uncaught C++ exceptions write a report with the call
// stack (backward-cpp, resolved through libdw) to the report directory and to standard
// error, then the process ends with the default action of the signal.
#include "platform/crash_report.h"

#include "platform/shared_memory.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <mutex>
#include <sstream>
#include <typeinfo>

#include <backward.hpp>

#include "platform/paths.h"

namespace platform {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

std::mutex g_installMutex;
bool g_installed = false;
std::string g_reportDir;  // written once at installation, read by the handlers
// The thread whose handler writes the report (0: none yet). A second fault on that thread
// (in the handler itself, or the abort that follows an uncaught exception) goes straight
// to the default action; a fault on another thread meanwhile waits for the report to be
// finished, since the first handler ends the process anyway.
std::atomic<pid_t> g_reportingThread{0};

// True when this thread is to write the report; otherwise it does not return before the
// process ends, or returns false when it is the reporting thread itself.
bool BeginReport() {
  const pid_t self = gettid();
  pid_t none = 0;
  if (g_reportingThread.compare_exchange_strong(none, self)) return true;
  if (none == self) return false;
  for (int i = 0; i < 300; ++i) {  // at most half a minute, then give up on the report
    timespec ts{0, 100000000L};
    nanosleep(&ts, nullptr);
  }
  return false;
}

std::mutex g_lastMutex;
bool g_haveLast = false;
backward::StackTrace g_lastStack;

const char* SignalName(int sig) {
  switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
  }
}

// One line per frame: "#3 MyFunc at file.cpp:42", or the address when nothing is known.
std::vector<std::string> ResolveLines(backward::StackTrace& stack) {
  std::vector<std::string> lines;
  backward::TraceResolver resolver;
  resolver.load_stacktrace(stack);
  for (std::size_t i = 0; i < stack.size(); ++i) {
    backward::ResolvedTrace trace = resolver.resolve(stack[i]);
    std::ostringstream line;
    line << "#" << i << " ";
    std::string function = !trace.source.function.empty() ? trace.source.function : trace.object_function;
    if (function.empty()) {
      line << trace.addr;
      if (!trace.object_filename.empty()) line << " in " << trace.object_filename;
    } else {
      line << function;
      if (!trace.source.filename.empty()) line << " at " << trace.source.filename << ":" << trace.source.line;
      else line << " [" << trace.addr << "]";
    }
    lines.push_back(line.str());
  }
  return lines;
}

std::string ReportFileName() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", &local);
  return g_reportDir + "crash_" + stamp + "_" + std::to_string(getpid()) + ".log";
}

// Writes the report to the file and to standard error. Not async-signal-safe, as no
// resolving stack printer is; the process is lost anyway, and the report is worth the risk.
void WriteReport(const std::string& headline, backward::StackTrace& stack) {
  std::string text = headline + "\n";
  for (const std::string& line : ResolveLines(stack)) text += line + "\n";
  ForceDirectories(g_reportDir);
  std::string fileName = ReportFileName();
  if (FILE* file = std::fopen(fileName.c_str(), "w")) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
  std::string toStderr = "Crash report " + fileName + "\n" + text;
  ssize_t ignored = write(STDERR_FILENO, toStderr.data(), toStderr.size());
  (void)ignored;
}

[[noreturn]] void DieWithDefaultAction(int sig) {
  signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);
}

void SignalHandler(int sig, siginfo_t* info, void* context) {
  // A shared segment shrunk by a peer is not a crash of ours: its lost page reads as zeros.
  if (sig == SIGBUS && RecoverSharedMemoryFault(info->si_addr)) return;
  if (!BeginReport()) DieWithDefaultAction(sig);
  backward::StackTrace stack;
  void* errorAddress = nullptr;
#ifdef REG_RIP
  errorAddress = reinterpret_cast<void*>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#endif
  if (errorAddress != nullptr) stack.load_from(errorAddress, 64, context, info->si_addr);
  else stack.load_here(64, context, info->si_addr);
  std::ostringstream headline;
  headline << "Fatal signal " << sig << " (" << SignalName(sig) << ") in process " << getpid() << ", address "
           << info->si_addr;
  WriteReport(headline.str(), stack);
  DieWithDefaultAction(sig);
}

[[noreturn]] void TerminateHandler() {
  if (BeginReport()) {
    std::string what = "no active exception";
    if (std::exception_ptr current = std::current_exception()) {
      try {
        std::rethrow_exception(current);
      } catch (const std::exception& e) {
        what = std::string("uncaught exception: ") + e.what();
      } catch (...) {
        what = "uncaught exception of unknown type";
      }
    }
    backward::StackTrace stack;
    stack.load_here(64);
    WriteReport("Terminate called in process " + std::to_string(getpid()) + ": " + what, stack);
  }
  DieWithDefaultAction(SIGABRT);
}

}  // namespace

void InstallCrashReporting(const std::string& reportDir) {
  std::lock_guard<std::mutex> lock(g_installMutex);
  if (g_installed) return;
  g_reportDir = reportDir;
  if (!g_reportDir.empty() && g_reportDir.back() != '/') g_reportDir += '/';

  // Prepares the resolver once, so that a handler finds libdw's code already loaded.
  {
    backward::StackTrace warm;
    warm.load_here(1);
    backward::TraceResolver resolver;
    resolver.load_stacktrace(warm);
  }

  // An alternate stack, so that a stack overflow can still be reported (this thread's).
  static std::vector<char> alternateStack(1 << 20);
  stack_t ss{};
  ss.ss_sp = alternateStack.data();
  ss.ss_size = alternateStack.size();
  ss.ss_flags = 0;
  sigaltstack(&ss, nullptr);

  struct sigaction action {};
  action.sa_sigaction = SignalHandler;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigfillset(&action.sa_mask);
  for (int sig : kFatalSignals) sigaction(sig, &action, nullptr);
  std::set_terminate(TerminateHandler);
  g_installed = true;
}

bool IsCrashReportingActive() {
  {
    std::lock_guard<std::mutex> lock(g_installMutex);
    if (!g_installed) return false;
  }
  for (int sig : kFatalSignals) {
    struct sigaction current {};
    if (sigaction(sig, nullptr, &current) != 0) return false;
    if ((current.sa_flags & SA_SIGINFO) == 0 || current.sa_sigaction != SignalHandler) return false;
  }
  return std::get_terminate() == TerminateHandler;
}

void RecordExceptionCallStack() {
  backward::StackTrace stack;
  stack.load_here(64);
  stack.skip_n_firsts(1);  // this function itself
  std::lock_guard<std::mutex> lock(g_lastMutex);
  g_lastStack = stack;
  g_haveLast = true;
}

bool GetLastExceptionCallStack(std::vector<std::string>& lines, std::string& error) {
  backward::StackTrace stack;
  {
    std::lock_guard<std::mutex> lock(g_lastMutex);
    if (!g_haveLast) {
      error = "no exception call stack was recorded";
      return false;
    }
    stack = g_lastStack;
  }
  try {
    lines = ResolveLines(stack);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  if (lines.empty()) {
    error = "the recorded call stack is empty";
    return false;
  }
  return true;
}

}  // namespace platform
