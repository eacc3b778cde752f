// The line-information service: Sarvent.py on a map server machine asks for the server
// version and the line number, one line each way.
#include <asio/read_until.hpp>
#include <asio/write.hpp>
#include <chrono>

#include "ServerText.h"
#include "StatusRecords.h"
#include "StatusServer.h"
#include "common/Utils.h"

namespace statusserver {

namespace {

// The line-information request: one line, soon.
constexpr std::size_t kMaxLineInfoRequest = 256;
constexpr auto kLineInfoTimeout = std::chrono::seconds(5);

}  // namespace

struct StatusServer::LineInfoPeer {
  explicit LineInfoPeer(asio::io_context& io) : Socket(io), Timer(io) {}
  asio::ip::tcp::socket Socket;
  asio::steady_timer Timer;
  std::string Peer;
  std::string Request;
  std::string Answer;
};

void StatusServer::AcceptLineInfo() {
  auto peer = std::make_shared<LineInfoPeer>(m_Io);
  m_LineInfoAcceptor.async_accept(peer->Socket, [this, peer](std::error_code error) {
    if (m_Closed) return;
    if (!error) {
      std::erase_if(m_LineInfoPeers, [](const auto& weak) { return weak.expired(); });
      m_LineInfoPeers.push_back(peer);
      std::error_code ignored;
      peer->Peer = EndpointText(peer->Socket.remote_endpoint(ignored));
      peer->Timer.expires_after(kLineInfoTimeout);
      peer->Timer.async_wait([peer](std::error_code timerError) {
        if (timerError) return;
        std::error_code closeError;
        peer->Socket.close(closeError);
      });
      ReadLineInfo(peer);
    }
    AcceptLineInfo();
  });
}

void StatusServer::ReadLineInfo(const std::shared_ptr<LineInfoPeer>& peer) {
  asio::async_read_until(
      peer->Socket, asio::dynamic_buffer(peer->Request, kMaxLineInfoRequest), '\n',
      [this, peer](std::error_code error, std::size_t length) {
        std::error_code ignored;
        if (error) {
          std::string why = error.message();
          if (error == asio::error::not_found)
            why = FormatText("no request line within %zu bytes", kMaxLineInfoRequest);
          else if (error == asio::error::operation_aborted || error == asio::error::bad_descriptor)
            why = "no request line within 5 s";
          else if (error == asio::error::eof)
            why = "closed before a whole request line";
          Print("line information peer " + peer->Peer + " dropped: " + why);
          peer->Timer.cancel();
          peer->Socket.close(ignored);
          return;
        }
        const std::string line = TrimText(peer->Request.substr(0, length));
        const auto [verb, host] = SplitWord(line);
        if (verb != "LINEINFO") {
          Print("line information peer " + peer->Peer + " dropped: not a LINEINFO request: " + ShowBytes(line, 64));
          peer->Timer.cancel();
          peer->Socket.close(ignored);
          return;
        }
        Print(FormatText("line information for \"%s\" from %s: version %d, line %d", Printable(host).c_str(),
                         peer->Peer.c_str(), m_Options.Version, m_Options.Line));
        peer->Answer = FormatText("%d %d\n", m_Options.Version, m_Options.Line);
        asio::async_write(peer->Socket, asio::buffer(peer->Answer), [peer](std::error_code, std::size_t) {
          std::error_code closeError;
          peer->Timer.cancel();
          peer->Socket.shutdown(asio::ip::tcp::socket::shutdown_both, closeError);
          peer->Socket.close(closeError);
        });
      });
}

void StatusServer::CloseLineInfoPeers() {
  std::error_code ignored;
  for (const auto& weak : m_LineInfoPeers) {
    if (auto peer = weak.lock()) {
      peer->Timer.cancel();
      peer->Socket.close(ignored);
    }
  }
  m_LineInfoPeers.clear();
}

}  // namespace statusserver
