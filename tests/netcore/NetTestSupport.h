// Helpers for the network core and status server tests: the real core loaded from the
// runnable tree, a TCP peer driven step by step by the test, the frames of the link, and a
// child program whose standard input and output the test holds.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "interfaces/IPackageDispatcher.h"
#include "interfaces/ITiravo.h"
#include "interfaces/MMORPGPacket.h"
#include "platform/library.h"
#include "statuslink/NetCore.h"
#include "support/Bytes.h"
#include "support/FreePort.h"
#include "support/TestSupport.h"

extern char** environ;

namespace nettest {

using Clock = std::chrono::steady_clock;

inline int MsLeft(Clock::time_point end) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
}

// Waits up to `timeoutMs` for bytes on the socket and appends them to `into` (when given).
// 1: bytes came; 0: the peer closed (or reset) the connection; -1: nothing came in time.
inline int ReceiveSome(int fd, int timeoutMs, std::string* into) {
  if (timeoutMs <= 0) return -1;
  pollfd wait{fd, POLLIN, 0};
  if (poll(&wait, 1, timeoutMs) != 1) return -1;
  char buffer[65536];
  const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
  if (n <= 0) return 0;
  if (into != nullptr) into->append(buffer, static_cast<std::size_t>(n));
  return 1;
}

// The process's core, loaded once from the runnable tree as the manager loads it.
inline ITiravo* Core() {
  static ITiravo* core = [] {
    platform::Library library("Tiravo.dll");
    if (!library) {
      ADD_FAILURE() << "Tiravo.dll: " << platform::LastLibraryError();
      return static_cast<ITiravo*>(nullptr);
    }
    if (auto setHost = library.Resolve<SetTiravoHostFunc>("SetTiravoHost")) setHost(NetCoreHost());
    auto get = library.Resolve<GetTiravoFunc>("GetTiravo");
    library.KeepLoaded();
    return get != nullptr ? get() : nullptr;
  }();
  return core;
}

// A 9-byte head with the given EchoTag and both server types 13.
inline std::string Head(uint16_t echo = 0, uint8_t serverType = 13) {
  std::string head(9, '\0');
  head[4] = static_cast<char>(echo & 0xFF);
  head[5] = static_cast<char>(echo >> 8);
  head[7] = static_cast<char>(serverType);
  head[8] = static_cast<char>(serverType);
  return head;
}

// One frame of the link: FF CC, the u32 length, the payload.
inline std::string Frame(const std::string& payload) {
  std::string frame("\xFF\xCC", 2);
  const uint32_t length = static_cast<uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
  return frame + payload;
}

inline uint16_t EchoOf(const std::string& message) {
  return static_cast<uint16_t>(static_cast<unsigned char>(message[4]) | (static_cast<unsigned char>(message[5]) << 8));
}

// The manager's login body for `name`.
inline std::string LoginBody(const std::string& name, uint16_t code = 0x5A17) {
  std::string body("\x01\x01", 2);
  PutLe(body, code, 2);
  PutLe(body, 0, 2);
  body.push_back(static_cast<char>(name.size()));
  return body + name;
}

// The next message the core has received, as head + body bytes, within the time.
inline bool PopMessage(ITiravo* core, std::string& message, int timeoutMs = 3000) {
  MMORPG::MMORPGPacket packet;
  if (!WaitUntil([&] { return core->PopRecvPack(&packet); }, timeoutMs)) return false;
  message.assign(reinterpret_cast<const char*>(&packet.m_PackHead), sizeof packet.m_PackHead);
  message.append(packet.GetData(), static_cast<std::size_t>(packet.GetDataLen()));
  return true;
}

inline bool SendMessage(ITiravo* core, const std::string& head, const std::string& body) {
  return core->SendPack(head.data(), static_cast<int>(head.size()), body.data(), static_cast<int>(body.size()));
}

// Cuts frames out of a byte stream with the program's framer.
class FrameCollector {
 public:
  FrameCollector() : m_Framer(NewPackageDispatcher()) {
    m_Framer->SetPackFunc(
        [](void* self, std::string_view payload) {
          static_cast<FrameCollector*>(self)->Messages.emplace_back(payload);
        },
        this);
    m_Framer->SetErrorFunc([](void* self) { static_cast<FrameCollector*>(self)->Broken = true; }, this);
  }
  ~FrameCollector() { FreePackageDispatcher(m_Framer); }
  void Push(std::string_view bytes) { m_Framer->PushData(bytes); }

  std::vector<std::string> Messages;
  bool Broken = false;

 private:
  IPackageDispatcher* m_Framer;
};

// A TCP peer on the loopback address that the test drives step by step.
class TestPeer {
 public:
  explicit TestPeer(int port = 0) { Listen(port); }
  ~TestPeer() {
    CloseConnection();
    if (m_Listener >= 0) close(m_Listener);
  }
  TestPeer(const TestPeer&) = delete;
  TestPeer& operator=(const TestPeer&) = delete;

  int Port() const { return m_Port; }

  void Listen(int port) {
    m_Listener = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(m_Listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(m_Listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(m_Listener, 16) != 0) {
      ADD_FAILURE() << "cannot listen on port " << port << ": " << std::strerror(errno);
      return;
    }
    socklen_t length = sizeof address;
    getsockname(m_Listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_Port = ntohs(address.sin_port);
  }
  void StopListening() {
    if (m_Listener >= 0) close(m_Listener);
    m_Listener = -1;
  }

  // Takes the next connection (dropping the current one); false when none came in time.
  bool Accept(int timeoutMs = 3000) {
    pollfd wait{m_Listener, POLLIN, 0};
    if (poll(&wait, 1, timeoutMs) != 1) return false;
    CloseConnection();
    m_Connection = accept(m_Listener, nullptr, nullptr);
    m_Collector = std::make_unique<FrameCollector>();
    return m_Connection >= 0;
  }
  void CloseConnection() {
    if (m_Connection >= 0) close(m_Connection);
    m_Connection = -1;
  }
  int Fd() const { return m_Connection; }

  bool SendBytes(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = send(m_Connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Reads until `count` messages have come, the time is up or the connection ends.
  std::vector<std::string> ReadMessages(std::size_t count, int timeoutMs = 3000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_Collector->Messages.size() < count) {
      std::string bytes;
      if (ReceiveSome(m_Connection, MsLeft(end), &bytes) != 1) break;
      m_Collector->Push(bytes);
    }
    std::vector<std::string> messages;
    messages.swap(m_Collector->Messages);
    return messages;
  }
  // True when the other side closed the connection within the time (data is discarded).
  bool SeesClose(int timeoutMs = 3000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const int got = ReceiveSome(m_Connection, MsLeft(end), nullptr);
      if (got != 1) return got == 0;
    }
  }

 private:
  int m_Listener = -1;
  int m_Connection = -1;
  int m_Port = 0;
  std::unique_ptr<FrameCollector> m_Collector = std::make_unique<FrameCollector>();
};

// A plain TCP client for sending raw bytes to a server.
class RawClient {
 public:
  explicit RawClient(int port) {
    m_Fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    m_Connected = connect(m_Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() { close(m_Fd); }
  bool Connected() const { return m_Connected; }
  bool Send(const std::string& bytes) {
    return send(m_Fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // Everything until the server closes, or what came within the time.
  std::string ReadUntilClose(int timeoutMs, bool* closed = nullptr) {
    std::string data;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int got = 1;
    while (got == 1) got = ReceiveSome(m_Fd, MsLeft(end), &data);
    if (closed) *closed = got == 0;
    return data;
  }

 private:
  int m_Fd = -1;
  bool m_Connected = false;
};

// A child program with its standard input and output in the test's hands.
class ChildProgram {
 public:
  ChildProgram() = default;
  ~ChildProgram() { Kill(); }
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  bool Start(const std::vector<std::string>& argv) {
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const int error = posix_spawn(&m_Pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    m_Input = input[1];
    m_Output = output[0];
    if (error != 0) {
      m_Pid = 0;
      return false;
    }
    return true;
  }

  void Write(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(write(m_Input, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // The first line (from those not yet taken) that contains `part`; "" when none came in
  // time. Lines before it are kept in Seen().
  std::string WaitLine(const std::string& part, int timeoutMs = 5000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      while (m_Next < m_Lines.size()) {
        const std::string& line = m_Lines[m_Next++];
        if (line.find(part) != std::string::npos) return line;
      }
      if (!ReadSome(MsLeft(end))) return "";
    }
  }
  // The lines that follow the last one WaitLine returned, up to `count` of them.
  std::vector<std::string> NextLines(std::size_t count, int timeoutMs = 3000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_Lines.size() < m_Next + count)
      if (!ReadSome(MsLeft(end))) break;
    std::vector<std::string> lines(m_Lines.begin() + static_cast<long>(m_Next),
                                   m_Lines.begin() + static_cast<long>(std::min(m_Lines.size(), m_Next + count)));
    m_Next += lines.size();
    return lines;
  }
  const std::vector<std::string>& Seen() const { return m_Lines; }
  pid_t Pid() const { return m_Pid; }

  // Ends the child with `signal` and waits; returns its exit status as from waitpid.
  int Kill(int signal = SIGKILL) {
    if (m_Pid == 0) return -1;
    kill(m_Pid, signal);
    int status = 0;
    waitpid(m_Pid, &status, 0);
    m_Pid = 0;
    close(m_Input);
    close(m_Output);
    return status;
  }
  // Waits for the child to end by itself; false when it did not within the time.
  bool WaitExit(int timeoutMs, int* status) {
    const bool ended = WaitUntil([&] { return waitpid(m_Pid, status, WNOHANG) == m_Pid; }, timeoutMs);
    if (ended) {
      m_Pid = 0;
      close(m_Input);
      close(m_Output);
    }
    return ended;
  }

 private:
  bool ReadSome(int timeoutMs) {
    if (timeoutMs <= 0) return false;
    pollfd wait{m_Output, POLLIN, 0};
    if (poll(&wait, 1, timeoutMs) != 1) return false;
    char buffer[65536];
    const ssize_t n = read(m_Output, buffer, sizeof buffer);
    if (n <= 0) return false;
    m_Partial.append(buffer, static_cast<std::size_t>(n));
    std::size_t newline;
    while ((newline = m_Partial.find('\n')) != std::string::npos) {
      m_Lines.push_back(m_Partial.substr(0, newline));
      m_Partial.erase(0, newline + 1);
    }
    return true;
  }

  pid_t m_Pid = 0;
  int m_Input = -1;
  int m_Output = -1;
  std::string m_Partial;
  std::vector<std::string> m_Lines;
  std::size_t m_Next = 0;
};

// Threads of this process.
inline int ThreadCount() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks))
      if (entry->d_name[0] != '.') ++count;
    closedir(tasks);
  }
  return count;
}

}  // namespace nettest
