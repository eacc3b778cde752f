#include "runtime/Console.h"

#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>

namespace {
std::atomic<bool> g_Windowed{false};
}

void SetWindowedProgram(bool windowed) { g_Windowed = windowed; }

bool HasConsoleWindow() { return !g_Windowed.load() && isatty(STDIN_FILENO) == 1; }

void WaitForAnyKey() {
  if (!HasConsoleWindow()) return;
  termios saved{};
  bool raw = tcgetattr(STDIN_FILENO, &saved) == 0;
  if (raw) {
    termios single = saved;
    single.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    single.c_cc[VMIN] = 1;
    single.c_cc[VTIME] = 0;
    raw = tcsetattr(STDIN_FILENO, TCSANOW, &single) == 0;
  }
  char key = 0;
  while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
  }
  if (raw) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

std::string NowAsText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}
