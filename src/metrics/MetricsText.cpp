#include "metrics/MetricsText.h"

#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "common/Utils.h"
#include "launch/MapServerLauncher.h"
#include "platform/process.h"
#include "registry/MapServerInfoManager.h"
#include "registry/RecordAccess.h"
#include "runtime/CodePage.h"

namespace {

// One metric family: its HELP and TYPE lines, then its samples.
class Family {
 public:
  Family(std::string& out, const char* name, const char* type, const char* help) : m_Out(out), m_Name(name) {
    m_Out += "# HELP ";
    m_Out += name;
    m_Out += ' ';
    m_Out += help;
    m_Out += "\n# TYPE ";
    m_Out += name;
    m_Out += ' ';
    m_Out += type;
    m_Out += '\n';
  }
  void Sample(const std::string& labels, double value) {
    m_Out += m_Name;
    if (!labels.empty()) {
      m_Out += '{';
      m_Out += labels;
      m_Out += '}';
    }
    m_Out += ' ';
    m_Out += Number(value);
    m_Out += '\n';
  }

 private:
  static std::string Number(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    // The shortest text that reads back as the same double.
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
  }

  std::string& m_Out;
  const char* m_Name;
};

struct MapRow {
  std::string labels;
  const tagMapServerData* data;
  MapServerInfo* info;
  bool running;
};

}  // namespace

std::string MetricsLabelValue(const std::string& text) {
  const std::string utf8 = IsWellFormedUtf8(text) ? text : CodePageToUtf8(text, "CP936");
  std::string escaped;
  escaped.reserve(utf8.size());
  for (char c : utf8) {
    if (c == '\\')
      escaped += "\\\\";
    else if (c == '"')
      escaped += "\\\"";
    else if (c == '\n')
      escaped += "\\n";
    else
      escaped += c;
  }
  return escaped;
}

std::string BuildMetricsText(MapServerInfoManager& maps, const MapServerLauncher* launcher, IManagerFigures& figures) {
  std::vector<MapRow> rows;
  rows.reserve(static_cast<std::size_t>(maps.GetMapInfoCount()));
  for (int i = 0; i < maps.GetMapInfoCount(); ++i) {
    MapServerInfo* info = maps.GetMapInfo(i);
    const MapServerData& map = info->GetMapData();
    const std::string labels = "server=\"" + MetricsLabelValue(map.GetServerName()) + "\",map_id=\"" +
                               std::to_string(map.GetMapID()) + "\",name=\"" +
                               MetricsLabelValue(info->GetDisplayName()) + "\"";
    const bool running = launcher != nullptr && launcher->IsMapServerAlive(*info);
    rows.push_back({labels, info->GetShareData(), info, running});
  }

  std::string out;
  out.reserve(rows.size() * 1400 + 2048);
  // A figure of every map that has a record.
  auto perMap = [&](const char* name, const char* type, const char* help, auto value) {
    Family family(out, name, type, help);
    for (const MapRow& row : rows)
      if (row.data != nullptr) family.Sample(row.labels, value(row));
  };
  perMap("vemo_map_state", "gauge",
         "State written by the map server: 0 gone, 1 connecting, 2 initing, 3 running, 4 script error, "
         "5 program error, 6 disconnected.",
         [](const MapRow& r) { return static_cast<double>(record::State(*r.data)); });
  perMap("vemo_map_heartbeat", "gauge",
         "Heartbeat counter of the record (raised by the map server, lowered each second).",
         [](const MapRow& r) { return static_cast<double>(record::HeartBeat(*r.data)); });
  // Figures of every map of the list, with a record or not.
  auto everyMap = [&](const char* name, const char* help, auto value) {
    Family family(out, name, "gauge", help);
    for (const MapRow& row : rows) family.Sample(row.labels, value(row));
  };
  everyMap("vemo_map_server_running", "1 while a map server of this machine runs for the map.",
           [](const MapRow& r) { return r.running ? 1.0 : 0.0; });
  everyMap("vemo_map_active", "1 when the map is active: \"StartAll\" starts it and it is meant to run.",
           [](const MapRow& r) { return r.info->GetActive() != 0 ? 1.0 : 0.0; });
  everyMap("vemo_map_stop_requested",
           "1 when someone asked the map's server to end (a close, a kill, the stop of the service), until its "
           "next launch.",
           [](const MapRow& r) { return r.info->IsExitExpected() ? 1.0 : 0.0; });
  {
    Family family(out, "vemo_map_server_start_time_seconds", "gauge",
                  "Start time of the running map server, in seconds since the epoch.");
    for (const MapRow& row : rows) {
      const double started = row.running ? platform::ProcessStartTime(row.info->GetProcessInfo().ProcessId) : 0;
      if (started > 0) family.Sample(row.labels, started);
    }
  }
  {
    Family family(out, "vemo_map_server_last_exit_status", "gauge",
                  "Exit status of the map's last map server seen ended (128 + n after a death by signal n; 0 "
                  "also when a server of an earlier manager run ended, whose status only its parent learns).");
    int status = 0;
    for (const MapRow& row : rows)
      if (launcher != nullptr && launcher->Processes().LastExitStatus(row.info->GetMapData().GetMapID(), &status))
        family.Sample(row.labels, status);
  }
  perMap("vemo_map_players", "gauge", "Players online.",
         [](const MapRow& r) { return static_cast<double>(record::Load(r.data->PlayerCnt)); });
  perMap("vemo_map_max_players", "gauge", "Player capacity.",
         [](const MapRow& r) { return static_cast<double>(record::Load(r.data->MaxPlayerCnt)); });
  perMap("vemo_map_items", "gauge", "Items in the map.",
         [](const MapRow& r) { return static_cast<double>(record::Load(r.data->ItemCnt)); });
  perMap("vemo_map_fps", "gauge", "Frames per second.",
         [](const MapRow& r) { return static_cast<double>(record::Load(r.data->FPS)); });
  perMap("vemo_map_cpu_percent", "gauge", "CPU use of the map server in percent of one processor.",
         [](const MapRow& r) { return static_cast<double>(r.info->GetProcessCpu()); });
  std::vector<platform::MemoryCounters> memory;
  for (const MapRow& row : rows)
    memory.push_back(row.data != nullptr ? row.info->GetMemoryCounters() : platform::MemoryCounters());
  {
    Family family(out, "vemo_map_working_set_bytes", "gauge", "Resident memory of the map server.");
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (rows[i].data != nullptr) family.Sample(rows[i].labels, static_cast<double>(memory[i].WorkingSetSize));
  }
  {
    Family family(out, "vemo_map_paging_bytes", "gauge", "Private committed memory of the map server.");
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (rows[i].data != nullptr) family.Sample(rows[i].labels, static_cast<double>(memory[i].PagefileUsage));
  }
  {
    Family family(out, "vemo_map_restarts_total", "counter", "Map servers started again by the manager, by reason.");
    for (const MapRow& row : rows) {
      for (int reason = 0; reason < ExitedMapRestarts::rrReasonCount; ++reason) {
        const auto why = static_cast<ExitedMapRestarts::Reason>(reason);
        const uint64_t count =
            launcher != nullptr ? launcher->Restarts().RestartCount(row.info->GetMapData().GetMapID(), why) : 0;
        family.Sample(row.labels + ",reason=\"" + ExitedMapRestarts::ReasonName(why) + "\"",
                      static_cast<double>(count));
      }
    }
  }

  // The manager itself.
  platform::CpuTimes times;
  platform::GetProcessTimes(platform::CurrentProcessId(), &times);
  platform::MemoryCounters own;
  platform::GetMemoryCounters(platform::CurrentProcessId(), &own);
  Family(out, "process_cpu_seconds_total", "counter", "CPU time of the manager in seconds.")
      .Sample("", static_cast<double>(times.Kernel + times.User) / 1e7);
  Family(out, "process_resident_memory_bytes", "gauge", "Resident memory of the manager.")
      .Sample("", static_cast<double>(own.WorkingSetSize));
  Family(out, "vemo_build_info", "gauge", "Always 1; the version label names the manager's build.")
      .Sample("version=\"" + MetricsLabelValue(VEMO_BUILD_VERSION) + "\"", 1);
  Family(out, "vemo_maps", "gauge", "Maps in the manager's map list.").Sample("", static_cast<double>(rows.size()));
  Family(out, "vemo_status_link_connected", "gauge", "1 while the status server link is connected.")
      .Sample("", figures.StatusLinkConnected() ? 1 : 0);
  Family(out, "vemo_status_requests_answered_total", "counter", "Status server requests answered by the manager.")
      .Sample("", static_cast<double>(figures.StatusRequestsAnswered()));
  Family(out, "vemo_script_queue_depth", "gauge", "Status messages waiting for the status script.")
      .Sample("", figures.ScriptQueueDepth());
  Family(out, "vemo_start_pass_duration_seconds", "gauge", "Duration of the last start of all map servers.")
      .Sample("", launcher != nullptr ? launcher->GetLastPassDuration() / 1000.0 : 0);
  return out;
}
