#include "platform/console.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

void ReadOneKey() {
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

}  // namespace platform
