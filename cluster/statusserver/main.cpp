// VemoStatusServer: the cluster's status server, for managers to connect to. Options and
// commands: cluster/statusserver/README.md, or --help.
#include <unistd.h>
#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/read_until.hpp>
#include <asio/signal_set.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>

#include "StatusServer.h"

namespace {

// Every line carries the wall-clock time; the output is flushed line by line so that a
// script reading it sees each line as it happens.
void PrintLine(const std::string& text) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
  std::string line = text;
  if (!line.empty() && line.back() == '\n') line.pop_back();
  std::printf("%s.%03d %s\n", stamp, static_cast<int>(millis), line.c_str());
  std::fflush(stdout);
}

// Reads operator commands from standard input, one per line, while it stays open.
class CommandReader {
 public:
  CommandReader(asio::io_context& io, statusserver::StatusServer& server) : m_Input(io), m_Server(server) {}

  void Start() {
    std::error_code error;
    const int input = ::dup(STDIN_FILENO);
    if (input >= 0) m_Input.assign(input, error);
    if (input < 0 || error) {
      // A regular file or /dev/null cannot be waited on: the server runs without commands.
      if (input >= 0 && error) ::close(input);
      return;
    }
    Read();
  }
  void Close() {
    std::error_code ignored;
    m_Input.close(ignored);
  }

 private:
  void Read() {
    asio::async_read_until(m_Input, asio::dynamic_buffer(m_Buffer, 64 * 1024), '\n',
                           [this](std::error_code error, std::size_t length) {
                             if (error) return;  // end of input: keep serving
                             const std::string line = m_Buffer.substr(0, length);
                             m_Buffer.erase(0, length);
                             if (!m_Server.RunCommand(line)) {
                               m_OnQuit();
                               return;
                             }
                             Read();
                           });
  }

 public:
  std::function<void()> m_OnQuit;

 private:
  asio::posix::stream_descriptor m_Input;
  std::string m_Buffer;
  statusserver::StatusServer& m_Server;
};

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  statusserver::ServerOptions options;
  bool help = false;
  std::string error;
  if (!statusserver::ParseServerOptions(std::vector<std::string>(argv + 1, argv + argc), options, help, error)) {
    std::fprintf(stderr, "VemoStatusServer: %s\n%s", error.c_str(), statusserver::ServerUsage());
    return 2;
  }
  if (help) {
    std::fputs(statusserver::ServerUsage(), stdout);
    return 0;
  }
  asio::io_context io;
  statusserver::StatusServer server(io, options, &PrintLine);
  if (!server.Open(error)) {
    std::fprintf(stderr, "VemoStatusServer: %s\n", error.c_str());
    return 1;
  }
  CommandReader commands(io, server);
  asio::signal_set signals(io, SIGINT, SIGTERM, SIGHUP);
  auto stop = [&] {
    signals.cancel();
    commands.Close();
    server.Close();
  };
  commands.m_OnQuit = stop;
  signals.async_wait([&](std::error_code signalError, int) {
    if (!signalError) stop();
  });
  commands.Start();
  io.run();
  return 0;
}
