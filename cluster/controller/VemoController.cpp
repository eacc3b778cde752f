// VemoController: the controller program of a machine's manager. It opens a window of its
// own on the message bus and speaks the manager's copy-data protocol: it registers itself
// (copy data 103, "class|title"), can ask the manager to close every map server and exit
// (copy data 101), and prints every notification it receives with its time.
//
//   VemoController [options] register   register, wait for the manager's answer
//   VemoController [options] watch      register, then print notifications until the manager ends
//   VemoController [options] close      register, send 101, wait for the manager's end
//   VemoController [options] listen     print notifications without registering (for a manager
//                                       started with "autostart <class> <title>")
//
// Options: --class NAME and --title TEXT of this window (default "VemoController" and
// "VemoController_<pid>"), --manager-title TEXT to pick the manager window by its caption,
// --manager HANDLE to name it by its window handle (the manager logs it at start-up),
// --timeout SECONDS (default 30; 0 waits without end).
//
// Exit codes: 0 done, 1 refused (the manager did not answer as asked: players are online, or
// the registration was not taken), 2 no manager window, 3 usage.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/message_bus.h"
#include "text/Text.h"

namespace {

enum Exit { kDone = 0, kRefused = 1, kNoManager = 2, kUsage = 3 };

// Messages from the manager (both parameters 0).
constexpr uint32_t kClosed = 0x8002;
constexpr uint32_t kAutoStarted = 0x8003;
constexpr uint32_t kRegistered = 0x8005;
constexpr uint32_t kCloseAllAndExit = 101;
constexpr uint32_t kRegister = 103;
constexpr const char* kManagerClass = "TVemoMapServerManagerMain";

volatile sig_atomic_t g_Stop = 0;
void OnSignal(int) { g_Stop = 1; }

int Usage(const std::string& why) {
  std::fprintf(stderr,
               "VemoController: %s\n"
               "usage: VemoController [--class NAME] [--title TEXT] [--manager-title TEXT | --manager HANDLE]\n"
               "                      [--timeout SECONDS]\n"
               "                      register|watch|close|listen\n",
               why.c_str());
  return kUsage;
}

const char* MessageName(uint32_t msg) {
  switch (msg) {
    case kClosed: return "closed: the manager ends after closing every map server";
    case kAutoStarted: return "autostarted: the manager started every map server";
    case kRegistered: return "registered: the manager will report to this window";
    default: return "message";
  }
}

void Print(const platform::BusMessage& message) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const int millis =
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&seconds));
  if (message.kind == platform::BusMessage::Kind::Message)
    std::printf("%s.%03d %u (0x%04X) %s\n", stamp, millis, message.Msg, message.Msg, MessageName(message.Msg));
  else
    std::printf("%s.%03d window request %d from process %u\n", stamp, millis, static_cast<int>(message.kind),
                message.SenderPid);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string windowClass = "VemoController";
  std::string title = "VemoController_" + std::to_string(getpid());
  std::string managerTitle;  // "" finds any manager window
  platform::WindowHandle managerHandle = 0;
  long timeoutMs = 30000;
  std::string command;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.starts_with("--")) {
      if (i + 1 >= args.size()) return Usage("missing value after " + arg);
      const std::string& value = args[++i];
      if (arg == "--class") {
        windowClass = value;
      } else if (arg == "--title") {
        title = value;
      } else if (arg == "--manager-title") {
        managerTitle = value;
      } else if (arg == "--manager") {
        long long handle = 0;
        if (!TextToInt64(value, handle) || handle <= 0 || handle > 0xFFFFFFFFll) return Usage("bad handle " + value);
        managerHandle = static_cast<platform::WindowHandle>(handle);
      } else if (arg == "--timeout") {
        int seconds = 0;
        if (!TextToInt(value, seconds) || seconds < 0 || seconds > 86400) return Usage("bad timeout " + value);
        timeoutMs = seconds * 1000;
      } else {
        return Usage("unknown option " + arg);
      }
    } else if (command.empty()) {
      command = arg;
    } else {
      return Usage("unexpected " + arg);
    }
  }
  if (command != "register" && command != "watch" && command != "close" && command != "listen")
    return Usage(command.empty() ? "no command" : "unknown command " + command);
  if (windowClass.empty() || title.empty() || windowClass.find('|') != std::string::npos ||
      title.find('|') != std::string::npos)
    return Usage("the class and title must be non-empty and free of \"|\"");

  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);

  std::vector<uint32_t> received;
  auto endpoint = platform::BusEndpoint::Open(windowClass, title, [&](const platform::BusMessage& message) {
    Print(message);
    if (message.kind == platform::BusMessage::Kind::Message) received.push_back(message.Msg);
  });
  if (!endpoint) {
    std::fprintf(stderr, "VemoController: cannot open a window on the message bus\n");
    return kNoManager;
  }
  std::printf("VemoController window %u class \"%s\" title \"%s\"\n", endpoint->Handle(), windowClass.c_str(),
              title.c_str());
  std::fflush(stdout);

  const bool register_ = command != "listen";
  platform::WindowHandle manager = 0;
  if (register_) {
    manager = managerHandle != 0 ? (platform::IsWindow(managerHandle) ? managerHandle : 0)
                                 : platform::FindWindow(kManagerClass, managerTitle);
    if (manager == 0) {
      std::fprintf(stderr, "VemoController: no manager window found\n");
      return kNoManager;
    }
    const std::string text = windowClass + "|" + title;
    if (!platform::SendCopyData(manager, kRegister, text.data(), text.size(), endpoint->Handle())) {
      std::fprintf(stderr, "VemoController: the manager window does not take messages\n");
      return kNoManager;
    }
  }

  // Waits for `msg` up to the timeout; 1 received, 0 timed out, -1 the manager went first.
  auto waitFor = [&](uint32_t msg, bool endless) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
      for (uint32_t got : received)
        if (got == msg) return 1;
      if (g_Stop) return 0;
      if (manager != 0 && !platform::IsWindow(manager)) {
        endpoint->Pump(0);  // what it sent before it went
        for (uint32_t got : received)
          if (got == msg) return 1;
        return -1;
      }
      const long spent = static_cast<long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
      if (!endless && timeoutMs > 0 && spent >= timeoutMs) return 0;
      endpoint->Pump(100);
    }
  };

  if (register_) {
    const int registered = waitFor(kRegistered, false);
    if (registered < 0) return kNoManager;
    if (registered == 0) {
      std::fprintf(stderr, "VemoController: the manager did not confirm the registration\n");
      return kRefused;
    }
  }
  if (command == "register") return kDone;

  if (command == "close") {
    received.clear();
    if (!platform::SendCopyData(manager, kCloseAllAndExit, nullptr, 0, endpoint->Handle())) return kNoManager;
    const int closed = waitFor(kClosed, false);
    if (closed > 0) return kDone;
    if (closed < 0) {
      std::fprintf(stderr, "VemoController: the manager ended without reporting its close\n");
      return kNoManager;
    }
    std::fprintf(stderr, "VemoController: the manager did not close (players online?)\n");
    return kRefused;
  }

  // watch and listen: until interrupted, or until the manager reports its end.
  const int closed = waitFor(kClosed, true);
  return closed < 0 ? kNoManager : kDone;
}
