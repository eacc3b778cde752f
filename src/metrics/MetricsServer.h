// The /metrics endpoint: an asynchronous HTTP server on a thread of its own that answers
// GET /metrics with BuildMetricsText, read under the map list's read lock. Off unless
// "MetricsPort" is set; it listens on "MetricsAddress" (127.0.0.1 unless the operator opens
// it wider).
//
// On a network address any peer can connect, so no client may hold the endpoint: every
// connection is a socket and a small buffer on one event loop, never a thread. A request's
// header must arrive whole within kRequestTimeout and fit in kMaxHeaderBytes (larger ones
// are answered 431 and closed); an answer must be taken within the same time. Past
// kMaxConnections the oldest connection is closed for the new one, so a flood of idle
// clients cannot lock a scrape out, and the memory stays bounded.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "metrics/MetricsText.h"

class MetricsServer {
 public:
  static constexpr std::size_t kMaxHeaderBytes = 8192;
  static constexpr std::size_t kMaxConnections = 4096;
  static constexpr std::chrono::seconds kRequestTimeout{10};

  MetricsServer(MapServerInfoManager& maps, const MapServerLauncher* launcher, IManagerFigures& figures);
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Binds and starts serving; false (with the reason in `error`) when the address cannot
  // be bound.
  bool Start(const std::string& address, int port, std::string& error);
  void Stop();
  bool IsRunning() const { return m_Thread.joinable(); }
  int Port() const { return m_Port; }

  struct Loop;  // the event loop and its connections (MetricsServer.cpp)

 private:
  MapServerInfoManager& m_Maps;
  const MapServerLauncher* m_Launcher;
  IManagerFigures& m_Figures;
  std::unique_ptr<Loop> m_Loop;
  std::thread m_Thread;
  int m_Port = 0;
};
