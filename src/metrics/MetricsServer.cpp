#include "metrics/MetricsServer.h"

#include <array>
#include <asio/buffers_iterator.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/read_until.hpp>
#include <asio/steady_timer.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>
#include <functional>
#include <list>

#include "registry/MapServerInfoManager.h"
#include "text/Text.h"

namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// A page still being sent to one client is sent to others asking within this time, so
// that clients that ask and never read cannot make the manager hold a page each.
constexpr auto kPageReuse = std::chrono::seconds(1);

// What one request asks, from its header (request line and fields).
struct Request {
  int status = 400;  // what the answer will be
  bool head = false;
  bool keepAlive = false;
};

Request ParseRequest(const std::string& header) {
  Request request;
  const std::size_t lineEnd = header.find("\r\n");
  const std::string line = header.substr(0, lineEnd);
  const std::size_t first = line.find(' '), last = line.rfind(' ');
  if (first == std::string::npos || last == first) return request;
  const std::string method = line.substr(0, first), target = line.substr(first + 1, last - first - 1),
                    version = line.substr(last + 1);
  if (version != "HTTP/1.1" && version != "HTTP/1.0") return request;
  bool close = false, keepAlive = false, body = false;
  for (std::size_t at = lineEnd + 2; at < header.size();) {
    const std::size_t end = header.find("\r\n", at);
    const std::string field = header.substr(at, end - at);
    at = end == std::string::npos ? header.size() : end + 2;
    const std::size_t colon = field.find(':');
    if (colon == std::string::npos) continue;
    const std::string name = AsciiLower(TrimText(field.substr(0, colon))),
                      value = AsciiLower(TrimText(field.substr(colon + 1)));
    if (name == "connection") {
      close = close || value.find("close") != std::string::npos;
      keepAlive = keepAlive || value.find("keep-alive") != std::string::npos;
    } else if ((name == "content-length" && value != "0") || name == "transfer-encoding") {
      body = true;  // never read: the connection ends after the answer
    }
  }
  request.keepAlive = !body && !close && (version == "HTTP/1.1" || keepAlive);
  request.head = method == "HEAD";
  if (method != "GET" && method != "HEAD")
    request.status = 405;
  else
    request.status = target.substr(0, target.find('?')) == "/metrics" ? 200 : 404;
  return request;
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 431: return "Request Header Fields Too Large";
    default: return "Bad Request";
  }
}

}  // namespace

class MetricsConnection;

struct MetricsServer::Loop {
  explicit Loop(std::function<std::string()> build) : acceptor(io), retry(io), build(std::move(build)) {}
  void Accept();
  // Closes the least recently used connection, for a new one.
  void CloseOldest();
  std::shared_ptr<const std::string> Page();

  asio::io_context io;
  tcp::acceptor acceptor;
  asio::steady_timer retry;  // a new accept after a failed one (out of descriptors)
  std::function<std::string()> build;
  // Open connections, least recently used first.
  std::list<std::shared_ptr<MetricsConnection>> open;
  std::weak_ptr<const std::string> lastPage;
  Clock::time_point lastPageTime;
};

// One client: reads a request's header within the deadline, answers, and waits for the
// next request while the client keeps the connection.
class MetricsConnection : public std::enable_shared_from_this<MetricsConnection> {
 public:
  MetricsConnection(MetricsServer::Loop& loop, tcp::socket socket)
      : m_Loop(loop), m_Socket(std::move(socket)), m_Timer(loop.io), m_Buffer(MetricsServer::kMaxHeaderBytes) {}

  void Start(std::list<std::shared_ptr<MetricsConnection>>::iterator self) {
    m_Self = self;
    ReadRequest();
  }

  void Close() {
    if (m_Closed) return;
    m_Closed = true;
    asio::error_code ignored;
    m_Socket.close(ignored);
    m_Timer.cancel();
    m_Loop.open.erase(m_Self);
  }

 private:
  // The deadline of the current request or answer; a client that misses it is closed.
  void ArmTimer() {
    m_Timer.expires_after(MetricsServer::kRequestTimeout);
    m_Timer.async_wait([self = shared_from_this()](const asio::error_code& ec) {
      if (!ec) self->Close();
    });
  }

  void ReadRequest() {
    ArmTimer();
    asio::async_read_until(
        m_Socket, m_Buffer, "\r\n\r\n",
        [self = shared_from_this()](const asio::error_code& ec, std::size_t size) { self->OnRequest(ec, size); });
  }

  void OnRequest(const asio::error_code& ec, std::size_t size) {
    if (m_Closed) return;
    Request request;
    if (ec == asio::error::not_found) {
      request.status = 431;  // the buffer is full and holds no end of header
    } else if (ec) {
      Close();
      return;
    } else {
      const auto data = m_Buffer.data();
      request = ParseRequest(std::string(asio::buffers_begin(data), asio::buffers_begin(data) + size));
      m_Buffer.consume(size);
      // A client that asks is recently used: it goes last in line for closing.
      m_Loop.open.splice(m_Loop.open.end(), m_Loop.open, m_Self);
    }
    Answer(request);
  }

  void Answer(const Request& request) {
    m_KeepAlive = request.keepAlive && request.status != 431;
    std::string type = "text/plain; charset=utf-8";
    if (request.status == 200) {
      m_Page = m_Loop.Page();
      type = "text/plain; version=0.0.4; charset=utf-8";
    } else {
      m_Page = std::make_shared<const std::string>(std::string(Reason(request.status)) + "\n");
    }
    m_Head = "HTTP/1.1 " + std::to_string(request.status) + " " + Reason(request.status) + "\r\nContent-Type: " + type +
             "\r\nContent-Length: " + std::to_string(m_Page->size()) +
             (request.status == 405 ? "\r\nAllow: GET, HEAD" : "") +
             "\r\nConnection: " + (m_KeepAlive ? "keep-alive" : "close") + "\r\n\r\n";
    std::array<asio::const_buffer, 2> buffers{asio::buffer(m_Head),
                                              request.head ? asio::const_buffer() : asio::buffer(*m_Page)};
    ArmTimer();
    asio::async_write(m_Socket, buffers, [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
      self->m_Page.reset();
      if (self->m_Closed) return;
      if (ec || !self->m_KeepAlive) {
        asio::error_code ignored;
        self->m_Socket.shutdown(tcp::socket::shutdown_both, ignored);
        self->Close();
        return;
      }
      self->ReadRequest();
    });
  }

  MetricsServer::Loop& m_Loop;
  tcp::socket m_Socket;
  asio::steady_timer m_Timer;
  asio::streambuf m_Buffer;
  std::list<std::shared_ptr<MetricsConnection>>::iterator m_Self;
  std::string m_Head;
  std::shared_ptr<const std::string> m_Page;
  bool m_KeepAlive = false;
  bool m_Closed = false;
};

void MetricsServer::Loop::Accept() {
  acceptor.async_accept([this](const asio::error_code& ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
    if (ec) {
      // Out of descriptors, most likely: give one back and try again shortly.
      CloseOldest();
      retry.expires_after(std::chrono::milliseconds(50));
      retry.async_wait([this](const asio::error_code& wait) {
        if (!wait) Accept();
      });
      return;
    }
    if (open.size() >= MetricsServer::kMaxConnections) CloseOldest();
    open.push_back(std::make_shared<MetricsConnection>(*this, std::move(socket)));
    open.back()->Start(std::prev(open.end()));
    Accept();
  });
}

void MetricsServer::Loop::CloseOldest() {
  if (open.empty()) return;
  const std::shared_ptr<MetricsConnection> oldest = open.front();
  oldest->Close();
}

std::shared_ptr<const std::string> MetricsServer::Loop::Page() {
  std::shared_ptr<const std::string> page = lastPage.lock();
  const Clock::time_point now = Clock::now();
  if (page && now - lastPageTime < kPageReuse) return page;
  page = std::make_shared<const std::string>(build());
  lastPage = page;
  lastPageTime = now;
  return page;
}

MetricsServer::MetricsServer(MapServerInfoManager& maps, const MapServerLauncher* launcher, IManagerFigures& figures)
    : m_Maps(maps), m_Launcher(launcher), m_Figures(figures) {}

MetricsServer::~MetricsServer() { Stop(); }

bool MetricsServer::Start(const std::string& address, int port, std::string& error) {
  if (IsRunning()) return true;
  auto loop = std::make_unique<Loop>([this] {
    auto reading = m_Maps.ReadLock();
    return BuildMetricsText(m_Maps, m_Launcher, m_Figures);
  });
  asio::error_code ec;
  tcp::resolver resolver(loop->io);
  const auto endpoints = resolver.resolve(address, std::to_string(port), tcp::resolver::numeric_service, ec);
  if (!ec && endpoints.empty()) ec = asio::error::host_not_found;
  if (!ec) {
    const tcp::endpoint endpoint = endpoints.begin()->endpoint();
    // SO_REUSEADDR only: SO_REUSEPORT would let a second manager bind the same port and
    // answer every other scrape. One listener per address, nothing shared.
    loop->acceptor.open(endpoint.protocol(), ec);
    if (!ec) loop->acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) loop->acceptor.bind(endpoint, ec);
    if (!ec) loop->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  }
  if (ec) {
    error = "cannot listen on " + address + ":" + std::to_string(port) + " (" + ec.message() + ")";
    return false;
  }
  m_Port = loop->acceptor.local_endpoint().port();
  loop->Accept();
  m_Loop = std::move(loop);
  m_Thread = std::thread([loop = m_Loop.get()] { loop->io.run(); });
  return true;
}

void MetricsServer::Stop() {
  if (!m_Loop) return;
  // Everything ends on the loop's own thread; then run() has no work left and returns.
  asio::post(m_Loop->io, [loop = m_Loop.get()] {
    asio::error_code ignored;
    loop->acceptor.close(ignored);
    loop->retry.cancel();
    while (!loop->open.empty()) loop->CloseOldest();
  });
  if (m_Thread.joinable()) m_Thread.join();
  m_Loop.reset();
}
