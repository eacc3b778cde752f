// The status server link between the real programs: a manager (as a process, and as a
// window in this process where a test must press its buttons), the real network core, the
// status server program driven through its standard input and output, the real status
// logic component and status script, and real map servers.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QStatusBar>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "ManagerMachine.h"
#include "WindowControls.h"
#include "app/TVemoMapServerManagerMain.h"
#include "netcore/NetTestSupport.h"
#include "platform/crash_report.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "registry/MapServerData.h"
#include "registry/MapServerState.h"
#include "registry/RecordAccess.h"
#include "support/ChildProgram.h"
#include "support/OffscreenApplication.h"

namespace {

namespace fs = std::filesystem;
using nettest::ChildProgram;

// Sets an environment variable for as long as it lives (the manager and its map servers
// inherit the test's environment).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : m_Name(name) {
    if (const char* old = getenv(name)) m_Old = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (m_Old)
      setenv(m_Name, m_Old->c_str(), 1);
    else
      unsetenv(m_Name);
  }

 private:
  const char* m_Name;
  std::optional<std::string> m_Old;
};

// The words of an output line of the status server after its time of day.
std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line.size() > 13 ? line.substr(13) : std::string());
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The status server program with the options every test here uses.
class StatusServer {
 public:
  // Starts it listening on `port` (0: a free one), with the line-information service on a
  // free port when `lineInfo`; false when it did not come up.
  bool Start(int port, const std::string& fetchDir, bool lineInfo) {
    std::vector<std::string> argv = {std::string(VEMO_BIN_DIR) + "VemoStatusServer",
                                     "--listen=127.0.0.1:" + std::to_string(port),
                                     lineInfo ? "--lineinfo=127.0.0.1:0" : "--lineinfo=off",
                                     "--version=3",
                                     "--line=5",
                                     "--period=0",
                                     "--fetch-dir=" + fetchDir};
    if (!program.Start(argv)) return false;
    Port = PortAfter("listening for managers on ");
    if (lineInfo) LineInfoPort = PortAfter("line information on ");
    return Port != 0 && (!lineInfo || LineInfoPort != 0);
  }

  // Lines seen so far that hold `part`.
  std::size_t Count(const std::string& part) const {
    std::size_t count = 0;
    for (const std::string& line : program.Seen())
      if (line.find(part) != std::string::npos) ++count;
    return count;
  }
  // Waits for the first login of a manager and its answer to the figures that the server
  // asks for right after it.
  bool AwaitLogin() {
    return !program.WaitLine("manager 1 logged in as \"MapServer\"", 20000).empty() &&
           !program.WaitLine("manager 1 \"MapServer\" base information (echo 1, answered").empty();
  }
  std::string Output() const {
    std::string all;
    for (const std::string& line : program.Seen()) all += line + "\n";
    return all;
  }
  ChildProgram program;
  int Port = 0;
  int LineInfoPort = 0;

 private:
  int PortAfter(const std::string& part) {
    const std::string line = program.WaitLine(part);
    const std::size_t at = line.find(part);
    if (at == std::string::npos) return 0;
    const std::string address = line.substr(at + part.size());
    const std::size_t colon = address.find(':');
    return colon == std::string::npos ? 0 : std::atoi(address.c_str() + colon + 1);
  }
};

// Bytes waiting to be read on the established connections whose local end is `port`
// (the status server's side of its managers' connections).
long UnreadBytesAt(int port) {
  std::ifstream tcp("/proc/net/tcp");
  std::string line;
  char local[16];
  std::snprintf(local, sizeof local, ":%04X", port);
  long unread = 0;
  std::getline(tcp, line);  // the column titles
  while (std::getline(tcp, line)) {
    std::istringstream fields(line);
    std::string sl, localAddress, remote, state, queues;
    fields >> sl >> localAddress >> remote >> state >> queues;
    if (state != "01" || !localAddress.ends_with(local)) continue;
    const std::size_t colon = queues.find(':');
    if (colon != std::string::npos) unread += std::strtol(queues.c_str() + colon + 1, nullptr, 16);
  }
  return unread;
}

// One row of the status server's base information table.
struct TableRow {
  std::string name, state;
  long long players = 0, items = 0, fps = 0, cpu = 0, objects = 0, pid = 0, fb = 0;
  double memoryMiB = 0, pagefileMiB = 0;
};

// Reads the table that follows a "base information" title line: rows by map id, and the
// report lines under it.
std::map<int, TableRow> ReadTable(ChildProgram& server, int maps, std::vector<std::string>* reports, int reportCount) {
  std::map<int, TableRow> rows;
  const std::vector<std::string> lines = server.NextLines(static_cast<std::size_t>(1 + maps + reportCount));
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> w = Words(lines[i]);
    if (i > static_cast<std::size_t>(maps)) {
      if (reports != nullptr) reports->push_back(lines[i].substr(std::min<std::size_t>(lines[i].size(), 13)));
      continue;
    }
    if (w.size() != 14) {
      ADD_FAILURE() << "unexpected row: " << lines[i];
      continue;
    }
    TableRow row;
    row.name = w[1];
    row.state = w[2];
    row.players = std::stoll(w[3]);
    row.items = std::stoll(w[4]);
    row.fps = std::stoll(w[5]);
    row.cpu = std::stoll(w[6]);
    row.memoryMiB = std::stod(w[7]);
    row.pagefileMiB = std::stod(w[9]);
    row.objects = std::stoll(w[11]);
    row.pid = std::stoll(w[12]);
    row.fb = std::stoll(w[13]);
    rows[std::stoi(w[0])] = row;
  }
  return rows;
}

// The manager's own log file in its log directory (the one "GetErrorLog" can fetch).
std::string ManagerLogName(const ManagerMachine& machine) {
  for (const auto& entry : fs::directory_iterator(machine.LogDir())) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("MapServerManager") && name.ends_with(".log")) return name;
  }
  return "";
}

// The lines of the manager's log from the first one holding `from`.
std::vector<std::string> LogLinesFrom(const ManagerMachine& machine, const std::string& from) {
  std::vector<std::string> lines;
  std::istringstream all(machine.Log());
  bool found = false;
  for (std::string line; std::getline(all, line);) {
    if (!found && line.find(from) != std::string::npos) found = true;
    if (found) lines.push_back(line);
  }
  return lines;
}

// A real manager with three real map servers, connected to the status server right after
// "Start" by its configuration, and never clicked: every step is driven from outside as an
// operator's scripts would drive it.
TEST(StatusLinkProcessTest, ManagerAnswersTheStatusServerThroughRestartsADropMidReplyAndClose) {
  ManagerMachine machine;
  const std::string server = "SLProc" + std::to_string(getpid());
  std::ofstream(machine.Dir() + "MapServerData/Map/MapID.txt")
      << "41 " << server << " Alpha 1 1 100 0 0 1\n42 " << server << " Beta 2 1 100 0 0 1\n43 " << server
      << " Gamma 3 1 100 0 0 1\n";
  const std::string fetchDir = machine.Dir() + "fetched/";

  auto first = std::make_unique<StatusServer>();
  ASSERT_TRUE(first->Start(0, fetchDir, true)) << first->Output();
  const int port = first->Port;
  machine.WriteIni("[MapManager]\nedtMutexSign=" + server + "\nedtSSIP=127.0.0.1\nedtSSPort=" + std::to_string(port) +
                   "\nedt_ip=127.0.0.1\nedt_port=" + std::to_string(first->LineInfoPort) +
                   "\nAutoConnectStatusServer=1\n");

  // The map servers stop writing their figures once running, so that the test decides them.
  pid_t manager = 0;
  {
    ScopedEnv phases("VEMO_MS_PHASE_MS", "0");
    ScopedEnv faults("VEMO_MS_FAULTS", "*:hang@0");
    ScopedEnv scripts("PYTHONPATH", machine.Dir() + "StatusScript");
    // Launch control is loaded from the current directory: the manager starts from its own.
    const fs::path cwd = fs::current_path();
    fs::current_path(machine.Dir());
    manager = machine.Start({"-autolaunch"});
    fs::current_path(cwd);
  }
  ASSERT_TRUE(machine.WaitForLog("waits for Start")) << machine.Stderr(0);
  const pid_t halvix = SpawnProgram(std::string(VEMO_BIN_DIR) + "HalvixClient",
                                    {"--manager", std::to_string(manager), "--timeout", "60", "start", "--wait"},
                                    machine.Dir() + "start.out");
  ASSERT_EQ(WaitProgram(halvix), 0) << ReadFile(machine.Dir() + "start.out");

  // Connect and log in, once: by the start steps. The core asks for a login only after a
  // reconnection, so the server, which asks for figures after the first login, never sees a
  // second one on this connection, however many round trips follow.
  ASSERT_NE(first->program.WaitLine("manager 1 connected from", 20000), "") << first->Output();
  ASSERT_TRUE(first->AwaitLogin()) << first->Output();

  // The figures of the live map servers, as the records hold them.
  std::map<int, std::unique_ptr<MapServerData>> maps;
  for (int id : {41, 42, 43}) {
    maps[id] = std::make_unique<MapServerData>(server, id);
    ASSERT_NE(maps[id]->GetShareData(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return record::State(*maps[id]->GetShareData()) == msRunning; })) << id;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (auto& [id, map] : maps) {
    tagMapServerData& data = *map->GetShareData();
    record::Store(data.PlayerCnt, id == 42 ? -7 : id * 3);  // a signed count keeps its sign
    record::Store(data.ItemCnt, id + 500);
    record::Store(data.FPS, id % 7 + 20);
    record::Store(data.GameObjCnt, id * 10);
    record::Store(data.FBCnt, id % 4);
  }
  tagMapServerData& crashed = *maps[43]->GetShareData();
  std::snprintf(crashed.LastErrorTime, sizeof crashed.LastErrorTime, "2026-01-02 03:04:05");
  std::snprintf(crashed.LastFatalTime, sizeof crashed.LastFatalTime, "2026-01-02 03:04:06");
  record::SetState(crashed, msCppError);

  // Memory figures are the window's refresh tick's, at most a second old: a map server that
  // has just started still grows, so the figures are asked for until they have caught up.
  auto liveMemory = [&](int id) {
    platform::MemoryCounters memory;
    platform::GetMemoryCounters(record::ProcessId(*maps[id]->GetShareData()), &memory);
    return memory;
  };
  auto near = [](double mib, uint64_t bytes) { return std::fabs(mib - static_cast<double>(bytes) / 1048576.0) < 0.5; };
  std::map<int, TableRow> rows;
  std::vector<std::string> reports;
  for (int attempt = 0; attempt < 40; ++attempt) {
    first->program.Write("info 1");
    const std::string title = first->program.WaitLine("manager 1 \"MapServer\" base information (echo");
    ASSERT_NE(title.find(": 3 maps, map entries 3, line 5, server type 6"), std::string::npos) << title;
    reports.clear();
    rows = ReadTable(first->program, 3, &reports, 1);
    bool caughtUp = rows.size() == 3;
    for (auto& [id, row] : rows)
      caughtUp = caughtUp && near(row.memoryMiB, liveMemory(id).WorkingSetSize) &&
                 near(row.pagefileMiB, liveMemory(id).PagefileUsage);
    if (caughtUp) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  ASSERT_EQ(rows.size(), 3u) << first->Output();
  const std::map<int, std::string> names = {{41, "Alpha"}, {42, "Beta"}, {43, "Gamma"}};
  for (auto& [id, map] : maps) {
    SCOPED_TRACE(id);
    const tagMapServerData& data = *map->GetShareData();
    const TableRow& row = rows[id];
    EXPECT_EQ(row.name, server + "(" + names.at(id) + ")");
    EXPECT_EQ(row.state, id == 43 ? "unknown" : "Running");
    EXPECT_EQ(row.players, record::Load(data.PlayerCnt));
    EXPECT_EQ(row.items, record::Load(data.ItemCnt));
    EXPECT_EQ(row.fps, record::Load(data.FPS));
    EXPECT_EQ(row.objects, record::Load(data.GameObjCnt));
    EXPECT_EQ(row.fb, record::Load(data.FBCnt));
    EXPECT_EQ(row.pid, record::ProcessId(data));
    EXPECT_GE(row.cpu, 0);
    EXPECT_LE(row.cpu, 100);
    const platform::MemoryCounters memory = liveMemory(id);
    EXPECT_NEAR(row.memoryMiB, static_cast<double>(memory.WorkingSetSize) / 1048576.0, 0.5);
    EXPECT_NEAR(row.pagefileMiB, static_cast<double>(memory.PagefileUsage) / 1048576.0, 0.5);
    EXPECT_GT(row.memoryMiB, 0.0);
  }
  EXPECT_EQ(reports, std::vector<std::string>{
                         "  map 43: C++ Error; LastErrorTime:2026-01-02 03:04:05;LastFatalTime:2026-01-02 03:04:06"});

  // The manager's own log, fetched compressed and written out decompressed: the file as it
  // was when the request came (it grows meanwhile). A name that leaves the directory is refused.
  const std::string logName = ManagerLogName(machine);
  ASSERT_FALSE(logName.empty());
  first->program.Write("getlog 1 " + logName);
  const std::string fetched = first->program.WaitLine("manager 1 GetErrorLog \"" + logName + "\"");
  ASSERT_NE(fetched.find(" bytes written to "), std::string::npos) << fetched;
  const std::string written = fetched.substr(fetched.find(" bytes written to ") + 18);
  const std::string copy = ReadFile(written);
  const std::string original = ReadFile(machine.LogDir() + logName);
  ASSERT_GT(copy.size(), 0u);
  ASSERT_LE(copy.size(), original.size());
  EXPECT_EQ(copy, original.substr(0, copy.size()));
  EXPECT_NE(copy.find("Status server connect successfully!"), std::string::npos);
  first->program.Write("getlog 1 ../VemoMapServerManager.ini");
  EXPECT_NE(first->program.WaitLine("GetErrorLog \"../VemoMapServerManager.ini\": empty result"), "");

  // A common command answered by the status logic component from its own thread, and two
  // answered by the status script on the window thread.
  first->program.Write("cmd 1 GetHostInfo");
  const std::string host = first->program.WaitLine("manager 1 reply to \"GetHostInfo\"");
  EXPECT_NE(host.find(";pid=" + std::to_string(manager)), std::string::npos) << host;
  first->program.Write("cmd 1 Echo hello there");
  EXPECT_NE(first->program.WaitLine("manager 1 reply to \"Echo\" \"hello there\": 11 bytes: hello there"), "")
      << first->Output();
  first->program.Write("cmd 1 GetScriptStatus");
  EXPECT_NE(first->program.WaitLine("manager 1 reply to \"GetScriptStatus\" \"\"").find("script=Fennick.py;python=3."),
            std::string::npos);
  EXPECT_EQ(first->Count("logged in"), 1u) << first->Output();
  EXPECT_EQ(first->Count("logged in again"), 0u);

  // The status server restarted under the running manager: the core reconnects and the
  // manager logs in exactly once more.
  first->program.Write("quit");
  int status = 0;
  ASSERT_TRUE(first->program.WaitExit(10000, &status));
  first.reset();
  auto second = std::make_unique<StatusServer>();
  ASSERT_TRUE(second->Start(port, fetchDir, false));
  ASSERT_TRUE(second->AwaitLogin()) << second->Output();
  second->program.Write("info 1");
  ASSERT_NE(second->program.WaitLine("base information (echo 2, answered"), "") << second->Output();
  EXPECT_EQ(second->Count("logged in"), 1u) << second->Output();

  // Killed in the middle of a reply: a log that compresses to no less than itself is
  // fetched, the server is held still once the request went out, and killed while the
  // first bytes of the reply wait unread at its end of the connection.
  const std::string big = machine.LogDir() + "incompressible.log";
  {
    std::mt19937_64 random(7);
    std::vector<uint64_t> words((24u << 20) / 8);
    for (uint64_t& word : words) word = random();
    std::ofstream(big, std::ios::binary)
        .write(reinterpret_cast<const char*>(words.data()), static_cast<std::streamsize>(words.size() * 8));
  }
  second->program.Write("getlog 1 incompressible.log");
  ASSERT_NE(second->program.WaitLine("manager 1 asked: GetErrorLog \"incompressible.log\""), "");
  ASSERT_EQ(kill(second->program.Pid(), SIGSTOP), 0);
  EXPECT_TRUE(WaitUntil([&] { return UnreadBytesAt(port) > 0; }, 30000)) << "no reply began";
  second->program.Kill(SIGKILL);
  second.reset();
  fs::remove(big);
  EXPECT_TRUE(machine.IsRunning(manager));

  auto third = std::make_unique<StatusServer>();
  ASSERT_TRUE(third->Start(port, fetchDir, false));
  ASSERT_TRUE(third->AwaitLogin()) << third->Output();
  third->program.Write("cmd 1 Echo still here");
  EXPECT_NE(third->program.WaitLine("reply to \"Echo\" \"still here\": 10 bytes: still here"), "") << third->Output();
  EXPECT_EQ(third->Count("logged in"), 1u) << third->Output();
  EXPECT_TRUE(machine.IsRunning(manager));
  EXPECT_EQ(machine.CountLog("CTiravo::Reconnect connected to 127.0.0.1:" + std::to_string(port) + " again"), 2u);

  // The window closes while connected (as on SIGTERM from a service manager): the link and
  // its request thread stop before anything else, the server sees the connection end, and
  // the manager exits 0.
  std::vector<uint32_t> mapPids;
  for (auto& [id, map] : maps) mapPids.push_back(record::ProcessId(*map->GetShareData()));
  ASSERT_EQ(kill(manager, SIGTERM), 0);
  EXPECT_EQ(machine.WaitExit(manager), 0) << machine.Stderr(0);
  EXPECT_NE(third->program.WaitLine("manager 1 dropped: closed by the manager"), "") << third->Output();
  const std::vector<std::string> closing = LogLinesFrom(machine, "closing without the question");
  ASSERT_GE(closing.size(), 2u);
  EXPECT_NE(closing[1].find("Begin wait SSProcess thread end"), std::string::npos) << closing[1];
  std::size_t threadExit = 0, waitEnd = 0;
  for (std::size_t i = 0; i < closing.size(); ++i) {
    if (threadExit == 0 && closing[i].find("ThreadProcessSSRequest exit") != std::string::npos) threadExit = i;
    if (waitEnd == 0 && closing[i].find("exit wait  SSProcess thread end") != std::string::npos) waitEnd = i;
  }
  EXPECT_GT(threadExit, 1u);
  EXPECT_GT(waitEnd, threadExit);

  for (uint32_t pid : mapPids) kill(static_cast<pid_t>(pid), SIGKILL);
  for (uint32_t pid : mapPids) EXPECT_TRUE(WaitUntil([&] { return kill(static_cast<pid_t>(pid), 0) != 0; }));
}

// A machine for a manager window in this process: its tree with a one-map list, its log
// directory and scripted dialogs, all undone when it goes.
struct WindowMachine {
  explicit WindowMachine(const std::string& stem) {
    EnsureOffscreenApplication();
    platform::InstallCrashReporting(QDir::tempPath().toStdString() + "/");
    unsetenv("VEMO_UNATTENDED");
    platform::SetExeDirForTesting(machine.Dir());
    platform::SetDialogs(&dialogs);
    server = stem + std::to_string(getpid());
    std::ofstream(machine.Dir() + "MapServerData/Map/MapID.txt") << "51 " << server << " Delta 1 1 100 0 0 1\n";
  }
  ~WindowMachine() {
    platform::SetDialogs(nullptr);
    platform::SetExeDirForTesting("");
  }
  // The configuration of the link: the status server's port and the line information's.
  void Configure(int statusPort, int lineInfoPort, const std::string& more = "") {
    machine.WriteIni("[MapManager]\nedtMutexSign=" + server +
                     "\nedtSSIP=127.0.0.1\nedtSSPort=" + std::to_string(statusPort) +
                     "\nedt_ip=127.0.0.1\nedt_port=" + std::to_string(lineInfoPort) + "\n" + more);
  }

  ManagerMachine machine;
  ScopedEnv logDir{"VEMO_LOG_DIR", machine.LogDir()};
  platform::ScriptedDialogs dialogs;
  std::string server;
};

// "StopStatusServer" can only be pressed on a window: the manager's window in this process
// (with the real network core loaded by its "Start") and the status server program.
TEST(StatusLinkWindowTest, StopWhileConnectedEndsTheConnectionAndTheCoreStaysUnloaded) {
  WindowMachine site("SLWin");
  platform::ScriptedDialogs& dialogs = site.dialogs;
  StatusServer status;
  ASSERT_TRUE(status.Start(0, site.machine.Dir() + "fetched/", true));
  site.Configure(status.Port, status.LineInfoPort);
  {
    TVemoMapServerManagerMain window;
    ASSERT_EQ(window.FormCreate({}).kind, TVemoMapServerManagerMain::StartupOutcome::Kind::Running);
    Control<QPushButton>(window, "btnStart")->click();
    ASSERT_TRUE(Control<QPushButton>(window, "btnStartStatusServer")->isEnabled());

    Control<QPushButton>(window, "btnStartStatusServer")->click();
    EXPECT_EQ(Control<QStatusBar>(window, "sbStatus")->currentMessage().toStdString(), "Connect to StatusServer OK");
    EXPECT_TRUE(Control<QPushButton>(window, "btnStartStatusServer")->isHidden());
    EXPECT_FALSE(Control<QPushButton>(window, "btnStopStatusServer")->isHidden());
    ASSERT_TRUE(status.AwaitLogin()) << status.Output();
    EXPECT_NE(status.Output().find("1 maps, map entries 1, line 5, server type 6"), std::string::npos)
        << status.Output();

    Control<QPushButton>(window, "btnStopStatusServer")->click();
    EXPECT_NE(status.program.WaitLine("manager 1 dropped: closed by the manager"), "") << status.Output();
    EXPECT_EQ(Control<QStatusBar>(window, "sbStatus")->currentMessage().toStdString(),
              "Disconnect from StatusServer OK");
    EXPECT_FALSE(Control<QPushButton>(window, "btnStartStatusServer")->isHidden());
    EXPECT_TRUE(Control<QPushButton>(window, "btnStopStatusServer")->isHidden());
    EXPECT_TRUE(dialogs.records.empty());

    // "Start" loads the core once a run: a later start finds none and says so.
    Control<QPushButton>(window, "btnStartStatusServer")->click();
    ASSERT_EQ(dialogs.records.size(), 1u);
    EXPECT_EQ(dialogs.records[0].text, "加载Tiravo失败，状态服务器无法开启！");
    EXPECT_EQ(Control<QStatusBar>(window, "sbStatus")->currentMessage().toStdString(),
              "Disconnect from StatusServer OK");
    PumpUntil([] { return false; }, 600);  // a connection would have been made by now
    EXPECT_EQ(status.Count("connected from"), 1u) << status.Output();

    dialogs.answers = {true};
    EXPECT_TRUE(window.close());
  }
}

// "AutoConnectStatusServer" with the status server not up yet: no message box waits for a
// click, the log says it once, and the manager connects by itself when the server comes up.
TEST(StatusLinkWindowTest, AutoConnectRetriesUntilTheStatusServerComesUp) {
  WindowMachine site("SLAuto");
  platform::ScriptedDialogs& dialogs = site.dialogs;
  StatusServer lineInfo;
  ASSERT_TRUE(lineInfo.Start(0, site.machine.Dir() + "fetched/", true));
  const int port = FreePort();
  site.Configure(port, lineInfo.LineInfoPort, "AutoConnectStatusServer=1\n");
  {
    TVemoMapServerManagerMain window;
    ASSERT_EQ(window.FormCreate({}).kind, TVemoMapServerManagerMain::StartupOutcome::Kind::Running);
    Control<QPushButton>(window, "btnStart")->click();
    PumpUntil([] { return false; }, 2000);  // a few retries
    EXPECT_EQ(Control<QStatusBar>(window, "sbStatus")->currentMessage().toStdString(),
              "Connect to StatusServer failed");
    EXPECT_TRUE(dialogs.records.empty());

    StatusServer late;
    ASSERT_TRUE(late.Start(port, site.machine.Dir() + "fetched/", false));
    EXPECT_TRUE(PumpUntil([&] { return !late.program.WaitLine("logged in as \"MapServer\"", 10).empty(); }, 20000))
        << late.Output();
    EXPECT_EQ(Control<QStatusBar>(window, "sbStatus")->currentMessage().toStdString(), "Connect to StatusServer OK");
    EXPECT_TRUE(dialogs.records.empty());
    EXPECT_EQ(site.machine.CountLog("AutoConnectStatusServer no connection to 127.0.0.1:" + std::to_string(port)), 1u);

    dialogs.answers = {true};
    EXPECT_TRUE(window.close());
  }
}

}  // namespace
