// The status server: managers connect to it, log in and send heartbeats; it asks each for
// base information on a period and prints the figures as a table, fetches error logs and
// writes them decompressed, sends common commands and prints the replies. Beside it runs the
// line-information service that answers the map server machines' Sarvent.py.
//
// Everything runs on one thread (the io_context's). A peer that sends something malformed is
// dropped with a line saying why; the server carries on with the others.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace statusserver {

struct ServerOptions {
  std::string ListenHost = "127.0.0.1";
  int ListenPort = 21888;
  bool LineInfo = true;
  std::string LineInfoHost = "127.0.0.1";
  int LineInfoPort = 19001;
  int Version = 1;       // the server version the line-information service answers
  int Line = 1;          // the line number it answers
  int PeriodMs = 10000;  // base information requests; 0 = only on demand
  std::string FetchDir = "FetchedLogs";
  std::vector<std::string> OnLogin;   // operator commands run for every manager that logs in
  uint64_t MaxLogBytes = 1ull << 30;  // a fetched log inflating to more is refused
  int LoginTimeoutMs = 30000;
};

// Parses the command line (argv[1..]); false with `error` for a malformed one, true with
// `help` set for --help.
bool ParseServerOptions(const std::vector<std::string>& args, ServerOptions& options, bool& help, std::string& error);
const char* ServerUsage();

class StatusServer {
 public:
  // `print` receives every output line (without its newline).
  StatusServer(asio::io_context& io, ServerOptions options, std::function<void(const std::string&)> print);
  ~StatusServer();
  StatusServer(const StatusServer&) = delete;
  StatusServer& operator=(const StatusServer&) = delete;

  // Opens both listening addresses; false with `why` when one cannot be opened.
  bool Open(std::string& why);
  // Runs one operator command ("help" lists them); false when it was "quit".
  bool RunCommand(const std::string& line);
  // Closes every connection and both listeners; the io_context then runs out of work.
  void Close();

 private:
  struct Session;
  struct LineInfoPeer;
  using SessionPtr = std::shared_ptr<Session>;

  void Accept();
  void AcceptLineInfo();
  void StartRead(const SessionPtr& session);
  static bool OnMessage(void* user, std::string_view message);
  bool HandleMessage(Session& session, std::string_view message);
  void HandleBaseInfoReply(Session& session, uint16_t echo, std::string_view body);
  void HandleCommonCmdReply(Session& session, uint16_t echo, std::string_view body);
  void Send(const SessionPtr& session, uint16_t echo, const std::string& body);
  void StartWrite(const SessionPtr& session);
  void Drop(const SessionPtr& session, const std::string& reason);
  void ArmPeriod();
  void RequestBaseInfo(const SessionPtr& session);
  void RequestCommand(const SessionPtr& session, const std::string& name, const std::string& param);
  uint16_t NextEcho(Session& session, const std::string& what);
  // Runs a command without its target against one manager; false with `why` when malformed.
  bool RunForSession(const SessionPtr& session, const std::string& command, std::string& why);
  void ReadLineInfo(const std::shared_ptr<LineInfoPeer>& peer);
  void CloseLineInfoPeers();
  void Print(const std::string& line);

  asio::io_context& m_Io;
  ServerOptions m_Options;
  std::function<void(const std::string&)> m_Print;
  asio::ip::tcp::acceptor m_Acceptor;
  asio::ip::tcp::acceptor m_LineInfoAcceptor;
  asio::steady_timer m_PeriodTimer;
  std::map<int, SessionPtr> m_Sessions;
  std::vector<std::weak_ptr<LineInfoPeer>> m_LineInfoPeers;  // closed with the server
  int m_NextSessionId = 1;
  bool m_Closed = false;
};

}  // namespace statusserver
