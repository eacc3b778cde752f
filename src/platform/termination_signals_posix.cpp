#include "platform/termination_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace platform {
namespace {

int g_pipe[2] = {-1, -1};

// Async-signal-safe: one write of the signal number, nothing else.
void OnTerminationSignal(int sig) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(sig);
  ssize_t ignored = write(g_pipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

}  // namespace

int WatchTerminationSignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
      g_pipe[0] = g_pipe[1] = -1;
      return;
    }
    struct sigaction action {};
    action.sa_handler = &OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
  });
  return g_pipe[0];
}

int TakeTerminationSignal() {
  if (g_pipe[0] < 0) return 0;
  int last = 0;
  unsigned char byte = 0;
  while (read(g_pipe[0], &byte, 1) == 1) last = byte;
  return last;
}

}  // namespace platform
