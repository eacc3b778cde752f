// The process's one immediate end (see process.h).
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/message_bus.h"
#include "platform/process.h"
#include "platform/shared_memory.h"

namespace platform {
namespace {

using Hook = void (*)();
constexpr int kMaxHooks = 16;
std::atomic<Hook> g_Hooks[kMaxHooks];

}  // namespace

void AtEndProcess(Hook hook) {
  if (hook == nullptr) return;
  for (int i = 0; i < kMaxHooks; ++i) {
    Hook expected = nullptr;
    if (g_Hooks[i].compare_exchange_strong(expected, hook)) return;
    if (expected == hook) return;  // registered already
  }
  std::fprintf(stderr, "AtEndProcess: no room for another hook\n");
}

void EndProcess(int exitCode) {
  FlushDeferredSends(1000);
  // Each hook is taken out before it runs: a hook that itself ends the process (a failing
  // flush) does not run again, nor does any hook before it.
  for (int i = kMaxHooks - 1; i >= 0; --i)
    if (Hook hook = g_Hooks[i].exchange(nullptr)) hook();
  ReleaseSharedSegmentsAtExit();
  std::fflush(nullptr);
  std::_Exit(exitCode);
}

}  // namespace platform
