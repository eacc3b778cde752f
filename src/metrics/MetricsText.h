// The manager's figures in the Prometheus text format (version 0.0.4), for the monitoring
// an operator already runs: one series per map of the map list, labelled with its server
// name, map id and display name, and the manager's own figures.
#pragma once

#include <cstdint>
#include <string>

class MapServerInfoManager;
class MapServerLauncher;

// What the status link and the launcher tell the metrics about the manager; every figure
// is 0 until a subsystem gives it. Called on the metrics thread: implementations must be
// safe to call from any thread.
class IManagerFigures {
 public:
  virtual ~IManagerFigures() = default;
  virtual bool StatusLinkConnected() { return false; }
  virtual uint64_t StatusRequestsAnswered() { return 0; }
  virtual int ScriptQueueDepth() { return 0; }
};

// A label value as the text format wants it: valid UTF-8 (a GBK text is converted), with
// backslash, double quote and line feed escaped.
std::string MetricsLabelValue(const std::string& text);

// The whole /metrics page. The caller holds the map list's read lock (or is the window
// thread). `launcher` may be null (no start pass, no restarts yet).
std::string BuildMetricsText(MapServerInfoManager& maps, const MapServerLauncher* launcher, IManagerFigures& figures);
