// Crash reporting: fatal signals and uncaught C++ exceptions write a report with the call
// stack (backward-cpp, resolved through libdw) to the report directory and to standard
// error, then the process ends with the default action of the signal.
#include "platform/crash_report.h"

#include <fcntl.h>

#include "platform/shared_memory.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>
#include <unwind.h>

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

// ---------------------------------------------------------------------------------------
// Throws and the last exception, per thread

constexpr int kMaxFrames = 64;

// One throw seen on this thread: the thrown object (to know it again in the catch block)
// and the call stack at the throw, the throwing function first. Plain data, so that the
// throw hook neither allocates nor needs a constructor.
struct ThrowRecord {
  const void* object;
  int frameCount;
  void* frames[kMaxFrames];
};
constexpr int kThrowRecords = 4;  // a throw while another one is handled, and a few more
thread_local ThrowRecord t_throws[kThrowRecords];
thread_local unsigned t_nextThrow = 0;
thread_local bool t_inThrowHook = false;

// This thread's last recorded exception.
struct LastException {
  bool have = false;
  std::string description;
  uint32_t address = 0;
  std::vector<void*> frames;
};
thread_local LastException t_last;

struct Unwinding {
  void** frames;
  int max;
  int count;
};

_Unwind_Reason_Code CollectFrame(_Unwind_Context* context, void* argument) {
  auto* state = static_cast<Unwinding*>(argument);
  if (state->count >= state->max) return _URC_END_OF_STACK;
  int beforeInstruction = 0;
  uintptr_t ip = _Unwind_GetIPInfo(context, &beforeInstruction);
  if (ip == 0) return _URC_END_OF_STACK;
  // A return address points past the call; the call itself names the right line.
  if (!beforeInstruction) --ip;
  state->frames[state->count++] = reinterpret_cast<void*>(ip);
  return _URC_NO_REASON;
}

// The calling thread's stack into `frames`, starting at the frame that `returnAddress`
// (a __builtin_return_address of the caller) returns into: the caller's caller first.
int CaptureFrom(void* returnAddress, void** frames, int max) {
  Unwinding state{frames, max, 0};
  _Unwind_Backtrace(&CollectFrame, &state);
  const uintptr_t site = reinterpret_cast<uintptr_t>(returnAddress) - 1;
  for (int i = 0; i < state.count; ++i) {
    if (reinterpret_cast<uintptr_t>(frames[i]) != site) continue;
    for (int j = i; j < state.count; ++j) frames[j - i] = frames[j];
    return state.count - i;
  }
  return state.count;
}

// The object a std::exception_ptr refers to (libstdc++ keeps exactly that pointer).
const void* ExceptionObject(const std::exception_ptr& current) {
  static_assert(sizeof(std::exception_ptr) == sizeof(void*));
  const void* object = nullptr;
  std::memcpy(&object, static_cast<const void*>(&current), sizeof object);
  return object;
}

std::string Demangled(const char* name) {
  int status = 0;
  char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  std::string out = status == 0 && readable != nullptr ? readable : name;
  std::free(readable);
  return out;
}

// The offset of an address in the module that holds it.
uint32_t ModuleOffset(const void* address) {
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fbase == nullptr)
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(info.dli_fbase));
}

// Notes a throw on the calling thread (called by the throw hook at the end of this file).
void NoteThrow(const void* object, void* throwSite) {
  if (t_inThrowHook) return;  // a throw inside the note itself
  t_inThrowHook = true;
  ThrowRecord& record = t_throws[t_nextThrow++ % kThrowRecords];
  record.object = object;
  record.frameCount = CaptureFrom(throwSite, record.frames, kMaxFrames);
  t_inThrowHook = false;
}

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
std::vector<std::string> ResolveLines(const std::vector<void*>& frames) {
  std::vector<std::string> lines;
  backward::TraceResolver resolver;
  resolver.load_addresses(frames.data(), static_cast<int>(frames.size()));
  for (std::size_t i = 0; i < frames.size(); ++i) {
    backward::ResolvedTrace trace = resolver.resolve(backward::ResolvedTrace(backward::Trace(frames[i], i)));
    std::ostringstream line;
    line << "#" << i << " ";
    // The symbol table names the function that holds the address; the debug information's
    // name is only the fallback, as clang's debug information can make the resolver name a
    // function called just before the address instead.
    std::string function = !trace.object_function.empty() ? trace.object_function : trace.source.function;
    if (function.empty()) {
      line << trace.addr;
      if (!trace.object_filename.empty()) line << " in " << trace.object_filename;
    } else {
      line << function;
      if (!trace.source.filename.empty())
        line << " at " << trace.source.filename << ":" << trace.source.line;
      else
        line << " [" << trace.addr << "]";
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
  std::vector<void*> frames;
  for (std::size_t i = 0; i < stack.size(); ++i) frames.push_back(stack[i].addr);
  for (const std::string& line : ResolveLines(frames)) text += line + "\n";
  // Reports lie in the log directory, which is the operator group's only.
  ForceDirectories(g_reportDir, 0750);
  std::string fileName = ReportFileName();
  const int fd = open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
  if (FILE* file = fd >= 0 ? fdopen(fd, "w") : nullptr) {
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
  if (errorAddress != nullptr)
    stack.load_from(errorAddress, 64, context, info->si_addr);
  else
    stack.load_here(64, context, info->si_addr);
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

__attribute__((noinline)) void RecordExceptionCallStack() {
  LastException last;
  last.have = true;
  std::exception_ptr current = std::current_exception();
  if (current) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    last.description = type != nullptr ? Demangled(type->name()) : "unknown exception";
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      last.description += std::string(": ") + e.what();
    } catch (...) {
    }
    // The stack of the throw, when this thread threw it (the latest throw of that object).
    const void* object = ExceptionObject(current);
    for (int back = 1; back <= kThrowRecords && last.frames.empty(); ++back) {
      const ThrowRecord& record = t_throws[(t_nextThrow - static_cast<unsigned>(back)) % kThrowRecords];
      if (record.object == object && record.frameCount > 0)
        last.frames.assign(record.frames, record.frames + record.frameCount);
    }
  }
  if (last.frames.empty()) {
    void* frames[kMaxFrames];
    int count = CaptureFrom(__builtin_return_address(0), frames, kMaxFrames);
    last.frames.assign(frames, frames + count);
  }
  last.address = last.frames.empty() ? 0 : ModuleOffset(last.frames[0]);
  t_last = std::move(last);
}

bool GetLastExceptionCallStack(std::vector<std::string>& lines, std::string& error) {
  if (!t_last.have) {
    error = "no exception call stack was recorded";
    return false;
  }
  try {
    lines = ResolveLines(t_last.frames);
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

bool GetLastException(std::string& description, uint32_t& address) {
  if (!t_last.have) return false;
  description = t_last.description;
  address = t_last.address;
  return true;
}

}  // namespace platform

// The throw hook: every C++ throw of the program passes here first, notes the throwing
// thread's stack, and goes on to the runtime's own __cxa_throw.
extern "C" __attribute__((noreturn)) void __cxa_throw(void* object, std::type_info* type, void (*destroy)(void*)) {
  platform::NoteThrow(object, __builtin_return_address(0));
  using ThrowFunc = void (*)(void*, std::type_info*, void (*)(void*));
  static ThrowFunc next = reinterpret_cast<ThrowFunc>(dlsym(RTLD_NEXT, "__cxa_throw"));
  if (next == nullptr) std::abort();
  next(object, type, destroy);
  __builtin_unreachable();
}
