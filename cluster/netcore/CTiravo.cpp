#include "CTiravo.h"

#include <algorithm>
#include <asio/connect.hpp>
#include <asio/post.hpp>
#include <cstdio>
#include <exception>

#include "TiravoParts.h"

namespace netcore {

namespace {

std::atomic<const tagTiravoHost*> g_Host{nullptr};

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

}  // namespace

const tagTiravoHost* TiravoHost() { return g_Host.load(std::memory_order_acquire); }

ComponentLog& TiravoLog() {
  static ComponentLog log;
  return log;
}

void SetHost(const tagTiravoHost* host) {
  TiravoLog().SetSource(host != nullptr ? host->GetLog : nullptr);
  g_Host.store(host, std::memory_order_release);
}

CTiravo::CTiravo() : m_Random(static_cast<unsigned>(Clock::now().time_since_epoch().count())) {}

CTiravo::~CTiravo() {
  Shutdown();
  if (m_PackFramer != nullptr) m_FreePackFramer(m_PackFramer);
}

// ---------------------------------------------------------------------------------------------
// Life: the I/O thread.

void CTiravo::LogCaught(const char* operation) {
  try {
    throw;
  } catch (const std::exception& error) {
    TiravoLog()->LogError("CTiravo::%s failed: %s", operation, error.what());
  } catch (...) {
    TiravoLog()->LogError("CTiravo::%s failed: an unknown exception", operation);
  }
}

void CTiravo::EnsureThread() {
  if (m_Thread.joinable()) return;
  if (!m_Reader) {
    const tagTiravoHost* host = TiravoHost();
    m_Reader = std::make_unique<FrameReader>(TiravoLimits::kMaxRecvMessage,
                                             host != nullptr ? host->NewPackageDispatcher : nullptr,
                                             host != nullptr ? host->FreePackageDispatcher : nullptr);
  }
  try {
    // A context of its own for every run of the thread: ending the run (Shutdown) destroys
    // it, and with it the thread that resolves host names.
    m_Io = std::make_unique<asio::io_context>();
    // The first timer makes the I/O objects of the context (an epoll and an eventfd
    // descriptor): the step that fails when the process has run out of descriptors.
    m_RetryTimer.emplace(*m_Io);
    m_ConnectTimer.emplace(*m_Io);
    m_Resolver.emplace(*m_Io);
    m_WorkGuard.emplace(m_Io->get_executor());
    auto finished = std::make_shared<std::promise<void>>();
    m_ThreadFinished = finished->get_future();
    m_Thread = std::thread([this, finished] { RunIoThread(finished); });
  } catch (...) {
    m_WorkGuard.reset();
    m_Resolver.reset();
    m_ConnectTimer.reset();
    m_RetryTimer.reset();
    m_Io.reset();
    throw;
  }
}

void CTiravo::RunIoThread(const std::shared_ptr<std::promise<void>>& finished) {
  {
    m_IoThreadId.store(std::this_thread::get_id());
    for (;;) {
      try {
        m_Io->run();
        break;
      } catch (const std::exception& error) {
        TiravoLog()->LogError("CTiravo::IoThread caught an exception: %s", error.what());
      } catch (...) {
        TiravoLog()->LogError("CTiravo::IoThread caught an unknown exception");
      }
    }
    finished->set_value();
  }
}

void CTiravo::RunOnIoThread(std::function<void()> work) {
  if (!m_Thread.joinable() || std::this_thread::get_id() == m_IoThreadId.load()) {
    work();
    return;
  }
  std::promise<void> done;
  std::future<void> ran = done.get_future();
  asio::post(*m_Io, [&work, &done] {
    work();
    done.set_value();
  });
  ran.wait();
}

int CTiravo::Start() {
  std::lock_guard<std::mutex> life(m_LifeMutex);
  try {
    EnsureThread();
    return 1;
  } catch (...) {
    LogCaught("Start");
    return 0;
  }
}

int CTiravo::Resume() { return 1; }

int CTiravo::Stop() {
  std::lock_guard<std::mutex> life(m_LifeMutex);
  if (!m_Thread.joinable()) return 1;
  try {
    RunOnIoThread([this] {
      const bool had = m_Connection != nullptr || m_Wanted;
      m_Wanted = false;
      m_RetryTimer->cancel();
      CloseConnection();
      ClearReceived();
      if (had) TiravoLog()->LogInfo("CTiravo::Stop connection to %s closed", PeerText().c_str());
    });
  } catch (...) {
    LogCaught("Stop");
    return 0;
  }
  return 1;
}

void CTiravo::Shutdown() {
  std::lock_guard<std::mutex> life(m_LifeMutex);
  if (!m_Thread.joinable()) return;
  if (std::this_thread::get_id() == m_IoThreadId.load()) return;  // the thread cannot end itself
  try {
    RunOnIoThread([this] {
      m_Wanted = false;
      m_RetryTimer->cancel();
      CloseConnection();
    });
  } catch (...) {
    LogCaught("Shutdown");
    m_Io->stop();
  }
  // With nothing left to do the thread's run ends by itself once the closed socket's
  // operations have completed; a stuck one is cut short.
  m_WorkGuard.reset();
  if (m_ThreadFinished.wait_for(std::chrono::seconds(2)) != std::future_status::ready) m_Io->stop();
  m_Thread.join();
  m_IoThreadId.store(std::thread::id());
  m_Resolver.reset();
  m_RetryTimer.reset();
  m_ConnectTimer.reset();
  m_Connection.reset();
  m_Io.reset();
  ClearReceived();
}

// ---------------------------------------------------------------------------------------------
// Connecting.

bool CTiravo::Connect(const char* ip, int port) {
  std::lock_guard<std::mutex> life(m_LifeMutex);
  if (ip == nullptr || *ip == '\0' || port <= 0 || port > 65535) {
    TiravoLog()->LogWarn("CTiravo::Connect bad address %s:%d", ip != nullptr ? ip : "(null)", port);
    return false;
  }
  try {
    EnsureThread();
  } catch (...) {
    LogCaught("Connect");
    return false;
  }
  auto done = std::make_shared<Outcome>();
  std::future<bool> result = done->Promise.get_future();
  std::string host = ip;
  try {
    asio::post(*m_Io, [this, host, port, done] { StartConnect(host, port, done); });
  } catch (...) {
    LogCaught("Connect");
    return false;
  }
  // The I/O thread answers within the connect timeout, which covers resolving the name;
  // the margin only guards against a thread that cannot run at all.
  if (result.wait_for(Milliseconds(TiravoLimits::kConnectTimeoutMs + 2000)) != std::future_status::ready) return false;
  return result.get();
}

void CTiravo::StartConnect(const std::string& host, int port, const OutcomePtr& done) {
  try {
    if (m_Connected.load() && m_Host == host && m_Port == port) {
      done->Give(true);
      return;
    }
    m_Wanted = false;
    m_RetryTimer->cancel();
    CloseConnection();
    ClearReceived();
    m_Host = host;
    m_Port = port;
    m_RetryMs = TiravoLimits::kFirstRetryMs;
    m_RetryReported = false;
    BeginConnect(false, done);
  } catch (...) {
    LogCaught("Connect");
    m_Connection.reset();
    done->Give(false);
  }
}

void CTiravo::BeginConnect(bool reconnecting, OutcomePtr done) {
  auto connection = std::make_shared<Connection>(*m_Io);
  m_Connection = connection;
  // One timeout for both steps: a name server that does not answer fails the connect as a
  // peer that does not answer does.
  m_ConnectTimer->expires_after(Milliseconds(TiravoLimits::kConnectTimeoutMs));
  m_ConnectTimer->async_wait([this, connection, reconnecting, done](std::error_code error) {
    if (error || m_Connection != connection || m_Connected.load()) return;
    connection->TimedOut = true;
    std::error_code ignored;
    connection->Socket.close(ignored);
    m_Resolver->cancel();
    OnConnected(connection, reconnecting, asio::error::timed_out, done);
  });
  m_Resolver->async_resolve(
      m_Host, std::to_string(m_Port),
      [this, connection, reconnecting, done](std::error_code error, asio::ip::tcp::resolver::results_type endpoints) {
        if (m_Connection != connection) return;
        if (error) {
          connection->Unresolved = true;
          OnConnected(connection, reconnecting, error, done);
          return;
        }
        asio::async_connect(
            connection->Socket, endpoints,
            [this, connection, reconnecting, done](std::error_code error, const asio::ip::tcp::endpoint&) {
              OnConnected(connection, reconnecting, error, done);
            });
      });
}

void CTiravo::OnConnected(const ConnectionPtr& connection, bool reconnecting, std::error_code error, OutcomePtr done) {
  if (m_Connection != connection) {  // given up meanwhile (timeout, Stop, another Connect, Shutdown)
    if (done) done->Give(false);
    return;
  }
  m_ConnectTimer->cancel();
  if (error) {
    m_Connection.reset();
    std::string why = connection->TimedOut
                          ? "no answer within " + std::to_string(TiravoLimits::kConnectTimeoutMs) + " ms"
                          : error.message();
    if (connection->Unresolved) why = "cannot resolve the host name: " + why;
    if (!reconnecting) {
      TiravoLog()->LogWarn("CTiravo::Connect connect to %s failed: %s", PeerText().c_str(), why.c_str());
      m_Wanted = false;
      if (done) done->Give(false);
      return;
    }
    if (!m_RetryReported) {
      TiravoLog()->LogWarn("CTiravo::Reconnect connect to %s failed: %s; retrying with back-off up to %d ms",
                           PeerText().c_str(), why.c_str(), TiravoLimits::kMaxRetryMs);
      m_RetryReported = true;
    }
    ScheduleReconnect();
    return;
  }
  std::error_code ignored;
  connection->Socket.set_option(asio::ip::tcp::no_delay(true), ignored);
  m_Wanted = true;
  m_ConnectedSince = Clock::now();
  m_Reader->Reset();
  m_Flooded = false;
  ++m_Serial;
  {
    std::lock_guard<std::mutex> lock(m_SendMutex);
    m_Outbox.clear();
    m_WriteActive = false;
    m_SendOpen = true;
    m_SendSerial = m_Serial;
  }
  // The caller of Connect logs in by itself; a reconnection needs the login from the link.
  m_NeedLogin.store(reconnecting);
  m_Connected.store(true);
  if (reconnecting) {
    TiravoLog()->LogInfo("CTiravo::Reconnect connected to %s again", PeerText().c_str());
  } else {
    m_RetryMs = TiravoLimits::kFirstRetryMs;
    TiravoLog()->LogInfo("CTiravo::Connect connected to %s", PeerText().c_str());
  }
  m_RetryReported = false;
  StartRead(connection);
  if (done) done->Give(true);
}

int CTiravo::ScheduleReconnect() {
  // A random fifth either way, so that the managers of a cluster do not all come back to a
  // restarted status server in the same millisecond.
  std::uniform_int_distribution<int> spread(-m_RetryMs / 5, m_RetryMs / 5);
  const int delay = m_RetryMs + spread(m_Random);
  m_RetryMs = std::min(m_RetryMs * 2, TiravoLimits::kMaxRetryMs);
  m_RetryTimer->expires_after(Milliseconds(delay));
  m_RetryTimer->async_wait([this](std::error_code error) {
    if (error || !m_Wanted || m_Connection != nullptr) return;
    try {
      BeginConnect(true, nullptr);
    } catch (...) {  // the system refused (descriptors, threads): try again later
      LogCaught("Reconnect");
      m_Connection.reset();
      ScheduleReconnect();
    }
  });
  return delay;
}

void CTiravo::CloseConnection() {
  m_ConnectTimer->cancel();
  if (m_Connection) {
    std::error_code ignored;
    m_Connection->Socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    m_Connection->Socket.close(ignored);
    m_Connection.reset();
  }
  m_Connected.store(false);
  std::lock_guard<std::mutex> lock(m_SendMutex);
  m_SendOpen = false;
  m_Outbox.clear();
  ReleaseIfLarge(m_Outbox);
  m_WriteActive = false;
}

void CTiravo::Drop(const std::string& reason) {
  const std::size_t discarded = ClearReceived();
  CloseConnection();
  const char* discardedText = discarded > 0 ? " (received messages discarded)" : "";
  if (!m_Wanted) {
    TiravoLog()->LogWarn("CTiravo::Drop connection to %s dropped: %s%s", PeerText().c_str(), reason.c_str(),
                         discardedText);
    return;
  }
  if (Clock::now() - m_ConnectedSince >= Milliseconds(TiravoLimits::kStableConnectionMs))
    m_RetryMs = TiravoLimits::kFirstRetryMs;
  const int delay = ScheduleReconnect();
  TiravoLog()->LogWarn("CTiravo::Drop connection to %s dropped: %s%s; reconnecting in %d ms", PeerText().c_str(),
                       reason.c_str(), discardedText, delay);
}

std::string CTiravo::PeerText() const { return m_Host + ":" + std::to_string(m_Port); }

}  // namespace netcore

// The process's one core.
extern "C" __attribute__((visibility("default"))) ITiravo* GetTiravo() {
  static netcore::CTiravo core;
  return &core;
}

// The program's table: its log, its framer and the filling of its packets.
extern "C" __attribute__((visibility("default"))) void SetTiravoHost(const tagTiravoHost* host) {
  netcore::SetHost(host);
}
