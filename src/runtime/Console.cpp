#include "runtime/Console.h"

#include <atomic>
#include <ctime>

#include "platform/clock.h"
#include "platform/console.h"

namespace {
std::atomic<bool> g_Windowed{false};
}

void SetWindowedProgram(bool windowed) { g_Windowed = windowed; }

bool HasConsoleWindow() { return !g_Windowed.load() && platform::StdinIsTerminal(); }

void WaitForAnyKey() {
  if (!HasConsoleWindow()) return;
  platform::ReadOneKey();
}

std::string NowAsText() {
  std::time_t now = platform::CurrentClock().Now();
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}
