#include "metrics/MetricsServer.h"

#include <httplib.h>
#include <sys/socket.h>

#include "registry/MapServerInfoManager.h"

MetricsServer::MetricsServer(MapServerInfoManager& maps, const MapServerLauncher* launcher, IManagerFigures& figures)
    : m_Maps(maps), m_Launcher(launcher), m_Figures(figures) {}

MetricsServer::~MetricsServer() { Stop(); }

bool MetricsServer::Start(const std::string& address, int port, std::string& error) {
  if (IsRunning()) return true;
  m_Server = std::make_unique<httplib::Server>();
  // The library would also set SO_REUSEPORT, which lets a second manager bind the same
  // port and answer every other scrape: one listener per address, nothing shared.
  m_Server->set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  m_Server->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    std::string text;
    {
      auto reading = m_Maps.ReadLock();
      text = BuildMetricsText(m_Maps, m_Launcher, m_Figures);
    }
    response.set_content(std::move(text), "text/plain; version=0.0.4; charset=utf-8");
  });
  if (!m_Server->bind_to_port(address.c_str(), port)) {
    error = "cannot listen on " + address + ":" + std::to_string(port);
    m_Server.reset();
    return false;
  }
  m_Port = port;
  m_Thread = std::thread([this] { m_Server->listen_after_bind(); });
  return true;
}

void MetricsServer::Stop() {
  if (!m_Server) return;
  m_Server->stop();
  if (m_Thread.joinable()) m_Thread.join();
  m_Server.reset();
}
