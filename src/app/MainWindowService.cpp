// The main window's side of running the manager as a service on Linux: the /metrics
// endpoint for the monitoring an operator already runs, and the automatic start of the
// status link after "Start".
#include <QPushButton>

#include "app/TVemoMapServerManagerMain.h"
#include "components/LogComponent.h"
#include "interfaces/IConfig.h"
#include "launch/MapServerLauncher.h"
#include "metrics/MetricsServer.h"
#include "registry/MapServerInfoManager.h"
#include "statuslink/StatusLinkControl.h"
#include "statuslink/StatusLinkFigures.h"

namespace {

// The status link's figures as the metrics show them.
class ManagerFigures : public IManagerFigures {
 public:
  bool StatusLinkConnected() override { return GetStatusLinkFigures().Connected.load(); }
  uint64_t StatusRequestsAnswered() override { return GetStatusLinkFigures().RequestsAnswered.load(); }
  int ScriptQueueDepth() override { return GetStatusLinkFigures().ScriptQueueDepth.load(); }
};

}  // namespace

void TVemoMapServerManagerMain::StartMetrics() {
  if (m_Config == nullptr || m_Metrics) return;
  const int port = m_Config->GetInt("MetricsPort", 0);
  if (port <= 0) return;
  const char* addressText = m_Config->GetString("MetricsAddress", "");
  const std::string address = addressText != nullptr && addressText[0] != '\0' ? addressText : "127.0.0.1";
  if (!m_ManagerFigures) m_ManagerFigures = std::make_unique<ManagerFigures>();
  m_Metrics = std::make_unique<MetricsServer>(GetMapServerInfoManager(), m_Launcher.get(), *m_ManagerFigures);
  std::string error;
  if (!m_Metrics->Start(address, port, error)) {
    LogObject()->TraceError("TVemoMapServerManagerMain::StartMetrics %s; no metrics are served", error.c_str());
    m_Metrics.reset();
    return;
  }
  LogObject()->TraceInfo("TVemoMapServerManagerMain::StartMetrics metrics at http://%s:%d/metrics", address.c_str(),
                         port);
}

void TVemoMapServerManagerMain::StopMetrics() { m_Metrics.reset(); }

void TVemoMapServerManagerMain::AutoConnectStatusServer() {
  if (m_Config == nullptr || !m_Config->GetBool("AutoConnectStatusServer", false)) return;
  LogObject()->TraceInfo("TVemoMapServerManagerMain: AutoConnectStatusServer is set, the status link starts");
  StatusLink().AutoConnectStatusServer();
}
