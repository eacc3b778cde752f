// A small second process for the platform tests: it holds shared memory, answers on the
// message bus, reports its arguments and working directory, exits with a given code or
// crashes, as the test that starts it asks.
//
//   platform_peer exit <code>
//   platform_peer sleep <ms>
//   platform_peer report <file> [args...]        writes the working directory, then each argument
//   platform_peer shm-hold <name> <size> <fill> <file>   writes "existed first-byte", fills, holds (2 min)
//   platform_peer shm-read <name> <size> <file>  writes "existed first-byte last-byte" (or "map-failed"), exits
//   platform_peer bus-echo <class> <title> <file>  writes its handle, then echoes (below) until told to quit
//                                                  (or 2 min have passed)
//   platform_peer bus-post <to> <msg> <wparam> <lparam> <from>
//   platform_peer crash <reportDir>             faults after installing crash reporting
//   platform_peer throw <reportDir>             throws an exception nobody catches
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

#include "platform/crash_report.h"
#include "platform/message_bus.h"
#include "platform/process.h"
#include "platform/shared_memory.h"

namespace {

// Written beside the final name and renamed, so that the test never reads half a file.
void WriteResult(const std::string& file, const std::string& text) {
  std::string temp = file + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::rename(temp.c_str(), file.c_str());
}

// Messages the echo endpoint understands.
constexpr uint32_t kQuit = platform::WM_USER + 99;

int BusEcho(const std::string& windowClass, const std::string& title, const std::string& file) {
  bool quit = false;
  platform::WindowHandle self = 0;
  platform::WindowHandle lastSender = 0;  // show/minimise/restore/raise carry no sender
  auto endpoint = platform::BusEndpoint::Open(windowClass, title, [&](const platform::BusMessage& m) {
    if (m.From != 0) lastSender = m.From;
    switch (m.kind) {
      case platform::BusMessage::Kind::Message:
        if (m.Msg == kQuit) {
          quit = true;
          return;
        }
        // The same numbers back, with the message number one higher.
        platform::PostMessage(m.From, m.Msg + 1, m.WParam, m.LParam, self);
        break;
      case platform::BusMessage::Kind::CopyData:
        platform::SendCopyData(m.From, m.Msg + 1, m.Data.data(), m.Data.size(), self);
        break;
      default:
        // Show, minimise, restore and raise are answered with their kind as the message.
        platform::PostMessage(lastSender, 5000 + static_cast<uint32_t>(m.kind), m.SenderPid, 0, self);
        break;
    }
  });
  if (!endpoint) return 2;
  self = endpoint->Handle();
  WriteResult(file, std::to_string(self));
  // A peer forgotten by a failed test ends on its own.
  for (int rounds = 0; !quit && rounds < 600; ++rounds) endpoint->Pump(200);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 100;
  std::string command = argv[1];
  if (command == "exit" && argc == 3) return std::atoi(argv[2]);
  if (command == "sleep" && argc == 3) {
    platform::SleepMs(static_cast<uint32_t>(std::atoi(argv[2])));
    return 0;
  }
  if (command == "report" && argc >= 3) {
    char cwd[4096];
    std::string text = getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?";
    text += "\n";
    for (int i = 3; i < argc; ++i) text += std::string(argv[i]) + "\n";
    WriteResult(argv[2], text);
    return 0;
  }
  if ((command == "shm-hold" && argc == 6) || (command == "shm-read" && argc == 5)) {
    std::size_t size = std::strtoul(argv[3], nullptr, 10);
    bool existed = false;
    int error = 0;
    int handle = platform::CreateSharedSegment(argv[2], size, &existed, &error);
    void* view = handle >= 0 ? platform::MapSharedSegment(handle, size, &error) : nullptr;
    std::string file = argv[argc - 1];
    if (view == nullptr) {
      WriteResult(file, "map-failed " + std::to_string(error));
      return 3;
    }
    auto* bytes = static_cast<unsigned char*>(view);
    std::string result = std::to_string(existed ? 1 : 0) + " " + std::to_string(bytes[0]);
    if (command == "shm-read") {
      WriteResult(file, result + " " + std::to_string(bytes[size - 1]));
      return 0;
    }
    std::memset(view, std::atoi(argv[4]), size);
    WriteResult(file, result);
    platform::SleepMs(120000);  // held until killed, or ends on its own when forgotten
    return 0;
  }
  if (command == "bus-echo" && argc == 5) return BusEcho(argv[2], argv[3], argv[4]);
  if (command == "bus-post" && argc == 7) {
    bool ok = platform::PostMessage(static_cast<platform::WindowHandle>(std::strtoul(argv[2], nullptr, 10)),
                                    static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)),
                                    std::strtoull(argv[4], nullptr, 10), std::strtoull(argv[5], nullptr, 10),
                                    static_cast<platform::WindowHandle>(std::strtoul(argv[6], nullptr, 10)));
    return ok ? 0 : 1;
  }
  if (command == "crash" && argc == 3) {
    platform::InstallCrashReporting(argv[2]);
    if (!platform::IsCrashReportingActive()) return 4;
    // A write to a page that may not be touched: a real fault, not one a checker catches first.
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) return 6;
    *static_cast<volatile int*>(page) = 42;
    return 5;
  }
  if (command == "throw" && argc == 3) {
    platform::InstallCrashReporting(argv[2]);
    throw std::runtime_error("nobody catches this");
  }
  return 100;
}
