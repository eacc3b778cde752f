#include "StatusServer.h"

#include <asio/post.hpp>
#include <asio/read_until.hpp>
#include <asio/write.hpp>
#include <cctype>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <sstream>

#include "FrameReader.h"
#include "ServerText.h"
#include "StatusRecords.h"
#include "common/Utils.h"

namespace statusserver {

namespace {

using Clock = std::chrono::steady_clock;

// The largest message a manager may send: a whole frame of the packet layer (a fetched
// log travels in one).
constexpr std::size_t kMaxManagerMessage = netcore::kMaxFrameLen - netcore::kFrameHeadLen;
// Until it has logged in, a connection may not make the server hold more than this.
constexpr std::size_t kMaxBytesBeforeLogin = 64 * 1024;
// Requests that wait for their reply are forgotten after this long.
constexpr auto kPendingLifetime = std::chrono::minutes(5);
// Messages waiting to be written to one manager before it counts as not reading.
constexpr std::size_t kMaxOutbox = 1000;

// A fetched log's file name: the manager's number and the requested name, with everything
// that could leave the fetch directory made harmless.
std::string FetchedFileName(int sessionId, const std::string& requested) {
  std::string name;
  for (char c : requested)
    name.push_back(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' ? c : '_');
  if (name.empty() || name.find_first_not_of('.') == std::string::npos) name = "log";
  return std::to_string(sessionId) + "_" + name;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Connections.

struct StatusServer::Session {
  Session(asio::io_context& io, StatusServer* server, int id)
      : Socket(io), LoginTimer(io), Server(server), Id(id), Reader(kMaxManagerMessage) {}

  struct Request {
    std::string What;
    Clock::time_point Sent;
  };

  asio::ip::tcp::socket Socket;
  asio::steady_timer LoginTimer;
  StatusServer* Server;
  int Id;
  std::string Peer;
  netcore::FrameReader Reader;
  bool Open = true;
  bool LoggedIn = false;
  std::string Name;
  uint16_t LastEcho = 0;
  std::map<uint16_t, Request> Pending;
  std::deque<std::string> Outbox;
  bool Writing = false;
  std::string DropReason;  // set by a message that ends the connection
  std::string ReadBuffer = std::string(64 * 1024, '\0');
};

StatusServer::StatusServer(asio::io_context& io, ServerOptions options, std::function<void(const std::string&)> print)
    : m_Io(io),
      m_Options(std::move(options)),
      m_Print(std::move(print)),
      m_Acceptor(io),
      m_LineInfoAcceptor(io),
      m_PeriodTimer(io) {}

StatusServer::~StatusServer() = default;

void StatusServer::Print(const std::string& line) { m_Print(line); }

bool StatusServer::Open(std::string& why) {
  auto listen = [&](asio::ip::tcp::acceptor& acceptor, const std::string& host, int port) {
    std::error_code error;
    const auto address = asio::ip::make_address(host, error);
    if (error) {
      why = "bad address " + host + ": " + error.message();
      return false;
    }
    const asio::ip::tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
    acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), error);
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
      why = "cannot listen on " + EndpointText(endpoint) + ": " + error.message();
      return false;
    }
    return true;
  };
  if (!listen(m_Acceptor, m_Options.ListenHost, m_Options.ListenPort)) return false;
  if (m_Options.LineInfo && !listen(m_LineInfoAcceptor, m_Options.LineInfoHost, m_Options.LineInfoPort)) return false;
  Print("status server listening for managers on " + EndpointText(m_Acceptor.local_endpoint()));
  if (m_Options.LineInfo)
    Print(FormatText("line information on %s: version %d, line %d",
                     EndpointText(m_LineInfoAcceptor.local_endpoint()).c_str(), m_Options.Version, m_Options.Line));
  Accept();
  if (m_Options.LineInfo) AcceptLineInfo();
  ArmPeriod();
  return true;
}

void StatusServer::Close() {
  if (m_Closed) return;
  m_Closed = true;
  std::error_code ignored;
  m_Acceptor.close(ignored);
  m_LineInfoAcceptor.close(ignored);
  m_PeriodTimer.cancel();
  while (!m_Sessions.empty()) {
    SessionPtr session = m_Sessions.begin()->second;
    session->Open = false;
    session->LoginTimer.cancel();
    session->Socket.close(ignored);
    m_Sessions.erase(m_Sessions.begin());
  }
  CloseLineInfoPeers();
  Print("status server stopped");
}

void StatusServer::Accept() {
  auto session = std::make_shared<Session>(m_Io, this, m_NextSessionId);
  m_Acceptor.async_accept(session->Socket, [this, session](std::error_code error) {
    if (m_Closed) return;
    if (error) {
      Print("accepting a manager failed: " + error.message());
    } else {
      ++m_NextSessionId;
      std::error_code ignored;
      session->Peer = EndpointText(session->Socket.remote_endpoint(ignored));
      session->Socket.set_option(asio::ip::tcp::no_delay(true), ignored);
      m_Sessions[session->Id] = session;
      Print(FormatText("manager %d connected from %s", session->Id, session->Peer.c_str()));
      session->LoginTimer.expires_after(std::chrono::milliseconds(m_Options.LoginTimeoutMs));
      session->LoginTimer.async_wait([this, session](std::error_code timerError) {
        if (!timerError && session->Open && !session->LoggedIn)
          Drop(session, FormatText("no login within %d s", m_Options.LoginTimeoutMs / 1000));
      });
      StartRead(session);
    }
    Accept();
  });
}

void StatusServer::StartRead(const SessionPtr& session) {
  session->Socket.async_read_some(
      asio::buffer(session->ReadBuffer), [this, session](std::error_code error, std::size_t size) {
        if (!session->Open) return;
        if (error) {
          Drop(session, error == asio::error::eof ? "closed by the manager" : error.message());
          return;
        }
        if (!session->Reader.Feed(std::string_view(session->ReadBuffer.data(), size), &StatusServer::OnMessage,
                                  session.get())) {
          Drop(session, !session->DropReason.empty() ? session->DropReason : "bad frame: " + session->Reader.Error());
          return;
        }
        if (!session->LoggedIn && session->Reader.Pending() > kMaxBytesBeforeLogin) {
          Drop(session, FormatText("a message of more than %zu bytes before its login", kMaxBytesBeforeLogin));
          return;
        }
        StartRead(session);
      });
}

bool StatusServer::OnMessage(void* user, std::string_view message) {
  auto* session = static_cast<Session*>(user);
  return session->Server->HandleMessage(*session, message);
}

bool StatusServer::HandleMessage(Session& session, std::string_view message) {
  if (!session.Open) return false;
  const uint16_t echo = EchoTagOf(message);
  const std::string_view body = message.substr(netcore::kMessageHeadLen);
  if (body.size() < 2) {
    session.DropReason = FormatText("a message of %zu body bytes, without its class and subtype", body.size());
    return false;
  }
  const unsigned kind = static_cast<unsigned char>(body[0]);
  const unsigned subtype = static_cast<unsigned char>(body[1]);
  if (kind == 1 && subtype == 1) {
    std::string name, why;
    if (!ParseLogin(body, name, why)) {
      session.DropReason = "login refused: " + why;
      return false;
    }
    const bool again = session.LoggedIn;
    session.LoggedIn = true;
    session.Name = name;
    session.LoginTimer.cancel();
    Print(FormatText("manager %d logged in%s as \"%s\"", session.Id, again ? " again" : "", Printable(name).c_str()));
    if (!again) {
      // The first figures at once, then on the period; and the operator's standing commands.
      SessionPtr self = m_Sessions.count(session.Id) ? m_Sessions[session.Id] : nullptr;
      if (self) {
        asio::post(m_Io, [this, self] {
          if (!self->Open) return;
          RequestBaseInfo(self);
          for (const std::string& command : m_Options.OnLogin) {
            std::string why;
            if (!RunForSession(self, command, why)) Print("--on-login " + command + ": " + why);
          }
        });
      }
    }
    return true;
  }
  if (!session.LoggedIn) {
    Print(FormatText("manager %d sent %u/%u before its login; ignored", session.Id, kind, subtype));
    return true;
  }
  if (kind == 1 && subtype == 4) {
    if (IsHeartbeat(body))
      Print(FormatText("manager %d heartbeat", session.Id));
    else
      Print(FormatText("manager %d odd heartbeat: %s", session.Id, ShowBytes(body, 32).c_str()));
    return true;
  }
  if (kind == 5 && subtype == 1) {
    HandleBaseInfoReply(session, echo, body);
    return session.DropReason.empty();
  }
  if (kind == 1 && subtype == 5) {
    HandleCommonCmdReply(session, echo, body);
    return session.DropReason.empty();
  }
  Print(FormatText("manager %d message %u/%u (echo %u, %zu bytes): %s", session.Id, kind, subtype, echo, body.size(),
                   ShowBytes(body, 64).c_str()));
  return true;
}

void StatusServer::HandleBaseInfoReply(Session& session, uint16_t echo, std::string_view body) {
  BaseInfoReply reply;
  std::string why;
  if (!ParseBaseInfoReply(body, reply, why)) {
    session.DropReason = "malformed base information reply: " + why;
    return;
  }
  std::string timing = FormatText("echo %u, unrequested", echo);
  auto found = session.Pending.find(echo);
  if (found != session.Pending.end()) {
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - found->second.Sent).count();
    timing = FormatText("echo %u, answered in %.1f ms", echo, ms);
    session.Pending.erase(found);
  }
  const std::vector<std::string> table = FormatBaseInfoTable(reply);
  Print(FormatText("manager %d \"%s\" base information (%s): %s", session.Id, Printable(session.Name).c_str(),
                   timing.c_str(), table.front().c_str()));
  for (std::size_t i = 1; i < table.size(); ++i) Print(table[i]);
}

void StatusServer::HandleCommonCmdReply(Session& session, uint16_t echo, std::string_view body) {
  CommonCmdReply reply;
  std::string why;
  if (!ParseCommonCmdReply(body, reply, why)) {
    session.DropReason = "malformed command reply: " + why;
    return;
  }
  session.Pending.erase(echo);
  const std::string name = Printable(reply.Name);
  const std::string param = Printable(reply.Param);
  if (reply.Name != "GetErrorLog") {
    Print(FormatText("manager %d reply to \"%s\" \"%s\": %zu bytes: %s", session.Id, name.c_str(), param.c_str(),
                     reply.Result.size(), ShowBytes(reply.Result).c_str()));
    return;
  }
  if (reply.Result.empty()) {
    Print(FormatText("manager %d GetErrorLog \"%s\": empty result (no such file, an empty one, or refused)", session.Id,
                     param.c_str()));
    return;
  }
  std::error_code error;
  std::filesystem::create_directories(m_Options.FetchDir, error);
  const std::string path =
      (std::filesystem::path(m_Options.FetchDir) / FetchedFileName(session.Id, reply.Param)).string();
  uint64_t written = 0;
  if (!InflateToFile(reply.Result, path, m_Options.MaxLogBytes, written, why)) {
    Print(FormatText("manager %d GetErrorLog \"%s\": %zu compressed bytes not written: %s", session.Id, param.c_str(),
                     reply.Result.size(), why.c_str()));
    return;
  }
  Print(FormatText("manager %d GetErrorLog \"%s\": %zu compressed bytes, %llu bytes written to %s", session.Id,
                   param.c_str(), reply.Result.size(), static_cast<unsigned long long>(written), path.c_str()));
}

void StatusServer::Drop(const SessionPtr& session, const std::string& reason) {
  if (!session->Open) return;
  session->Open = false;
  std::error_code ignored;
  session->LoginTimer.cancel();
  session->Socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  session->Socket.close(ignored);
  m_Sessions.erase(session->Id);
  Print(FormatText("manager %d dropped: %s", session->Id, reason.c_str()));
}

// ---------------------------------------------------------------------------------------------
// Requests.

uint16_t StatusServer::NextEcho(Session& session, const std::string& what) {
  const auto now = Clock::now();
  for (auto it = session.Pending.begin(); it != session.Pending.end();)
    it = now - it->second.Sent > kPendingLifetime ? session.Pending.erase(it) : std::next(it);
  do {
    ++session.LastEcho;
  } while (session.LastEcho == 0 || session.Pending.count(session.LastEcho) != 0);
  session.Pending[session.LastEcho] = Session::Request{what, now};
  return session.LastEcho;
}

void StatusServer::Send(const SessionPtr& session, uint16_t echo, const std::string& body) {
  if (!session->Open) return;
  if (session->Outbox.size() >= kMaxOutbox) {
    Drop(session, FormatText("it has not read its last %zu messages", kMaxOutbox));
    return;
  }
  session->Outbox.push_back(netcore::FrameMessage(MakeHead(echo), body));
  if (!session->Writing) StartWrite(session);
}

void StatusServer::StartWrite(const SessionPtr& session) {
  if (!session->Open || session->Outbox.empty()) {
    session->Writing = false;
    return;
  }
  session->Writing = true;
  asio::async_write(session->Socket, asio::buffer(session->Outbox.front()),
                    [this, session](std::error_code error, std::size_t) {
                      if (!session->Open) return;
                      if (error) {
                        Drop(session, "write failed: " + error.message());
                        return;
                      }
                      session->Outbox.pop_front();
                      StartWrite(session);
                    });
}

void StatusServer::RequestBaseInfo(const SessionPtr& session) {
  Send(session, NextEcho(*session, "base information"), BaseInfoRequestBody());
}

void StatusServer::RequestCommand(const SessionPtr& session, const std::string& name, const std::string& param) {
  Send(session, NextEcho(*session, name), CommonCmdBody(name, param));
  Print(FormatText("manager %d asked: %s \"%s\"", session->Id, Printable(name).c_str(), Printable(param).c_str()));
}

void StatusServer::ArmPeriod() {
  if (m_Options.PeriodMs <= 0) return;
  m_PeriodTimer.expires_after(std::chrono::milliseconds(m_Options.PeriodMs));
  m_PeriodTimer.async_wait([this](std::error_code error) {
    if (error || m_Closed) return;
    std::vector<SessionPtr> sessions;
    for (const auto& [id, session] : m_Sessions)
      if (session->LoggedIn) sessions.push_back(session);
    for (const SessionPtr& session : sessions) RequestBaseInfo(session);
    ArmPeriod();
  });
}

// ---------------------------------------------------------------------------------------------
// Operator commands.

bool StatusServer::RunForSession(const SessionPtr& session, const std::string& command, std::string& why) {
  const auto [verb, rest] = SplitWord(command);
  if (verb == "info") {
    RequestBaseInfo(session);
    return true;
  }
  if (verb == "getlog") {
    if (rest.empty()) {
      why = "getlog needs a file name";
      return false;
    }
    RequestCommand(session, "GetErrorLog", rest);
    return true;
  }
  if (verb == "cmd") {
    const auto [name, param] = SplitWord(rest);
    if (name.empty() || name.size() > kMaxCommandName || param.size() > kMaxCommandParam) {
      why = FormatText("cmd needs a name of 1 to %zu characters and a parameter of at most %zu bytes", kMaxCommandName,
                       kMaxCommandParam);
      return false;
    }
    RequestCommand(session, name, param);
    return true;
  }
  why = "unknown command \"" + verb + "\" (info, getlog FILE, cmd NAME [PARAMETER])";
  return false;
}

bool StatusServer::RunCommand(const std::string& line) {
  const auto [verb, rest] = SplitWord(line);
  if (verb.empty()) return true;
  if (verb == "quit" || verb == "exit") return false;
  if (verb == "help") {
    Print(ServerUsage());
    return true;
  }
  if (verb == "list") {
    if (m_Sessions.empty()) Print("no managers connected");
    for (const auto& [id, session] : m_Sessions)
      Print(FormatText("manager %d %s %s, %zu requests waiting", id, session->Peer.c_str(),
                       session->LoggedIn ? ("\"" + Printable(session->Name) + "\"").c_str() : "(no login yet)",
                       session->Pending.size()));
    return true;
  }
  if (verb != "info" && verb != "getlog" && verb != "cmd") {
    Print("unknown command \"" + Printable(verb) + "\"; try help");
    return true;
  }
  const auto [target, arguments] = SplitWord(rest);
  std::vector<SessionPtr> targets;
  if (target == "all") {
    for (const auto& [id, session] : m_Sessions)
      if (session->LoggedIn) targets.push_back(session);
    if (targets.empty()) Print("no manager has logged in");
  } else {
    long long id = 0;
    auto found = ParseNumber(target, 1, 1 << 30, id) ? m_Sessions.find(static_cast<int>(id)) : m_Sessions.end();
    if (found == m_Sessions.end() || !found->second->LoggedIn)
      Print("no logged-in manager \"" + Printable(target) + "\" (a number from list, or all)");
    else
      targets.push_back(found->second);
  }
  for (const SessionPtr& session : targets) {
    std::string why;
    if (!RunForSession(session, verb + " " + arguments, why)) {
      Print(why);
      break;
    }
  }
  return true;
}

}  // namespace statusserver
