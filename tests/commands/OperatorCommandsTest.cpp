// The operator's commands against real map servers and a real map list, without a display:
// the pop-up menu, the settings commands, the debug page, the script runner and the
// copy-data commands of a controller (with a controller window on the real message bus).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <regex>

#include "CommandsTestSupport.h"
#include "commands/OperatorCommands.h"
#include "platform/crash_report.h"
#include "platform/dialogs.h"
#include "platform/message_bus.h"
#include "registry/RecordText.h"
#include "runtime/ThreadManager.h"
#include "support/RecordingLog.h"

namespace {

class OperatorCommandsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(LoadGameDataComponent("Pellwyn.dll")); }

  void SetUp() override {
    platform::SetDialogs(&m_Dialogs);
    m_Server = "CmdTest" + std::to_string(platform::CurrentProcessId()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    // Three maps: ids 11, 12, 13 in this order.
    const std::string path =
        m_Dir.Write("MapID.txt", "11 " + m_Server + " Eleven 1 1 500 0 0 1\n" + "12 " + m_Server +
                                     " Twelve 2 1 500 0 0 1\n" + "13 " + m_Server + " Thirteen 3 1 500 0 0 1\n");
    ASSERT_TRUE(m_Maps.LoadMapList(0, path, false));
    ASSERT_EQ(m_Maps.GetMapInfoCount(), 3);
    for (int i = 0; i < 3; ++i) record::Zero(*Record(i));
    MapServerLauncher::Settings settings;
    settings.Config = &m_Config;
    settings.Window = &m_Window;
    settings.Maps = &m_Maps;
    settings.MapDataDir = MapServerDataDir();
    m_Launcher = std::make_unique<MapServerLauncher>(settings);
    m_Commands = std::make_unique<OperatorCommands>(*m_Launcher, m_Config, m_Window);
  }
  void TearDown() override {
    { MapServerReaper reaper{m_Maps}; }
    m_Commands.reset();
    m_Launcher.reset();
    m_Maps.Clear();
    platform::SetDialogs(nullptr);
  }

  tagMapServerData* Record(int position) { return m_Maps.GetMapInfo(position)->GetShareData(); }
  MapServerInfo& Map(int position) { return *m_Maps.GetMapInfo(position); }
  bool Logged(int level, const std::string& text) {
    for (const auto& line : m_Log.Texts(level))
      if (line == text) return true;
    return false;
  }

  RecordingLog m_Log;
  platform::ScriptedDialogs m_Dialogs;
  TempDir m_Dir{"vemo-cmd"};
  std::string m_Server;
  MemoryConfig m_Config;
  TestWindow m_Window;
  MapServerInfoManager m_Maps{1};
  std::unique_ptr<MapServerLauncher> m_Launcher;
  std::unique_ptr<OperatorCommands> m_Commands;
};

TEST_F(OperatorCommandsTest, ExecuteWritesEveryRecordCutTo1023Bytes) {
  // An empty memo writes nothing at all.
  EXPECT_EQ(m_Commands->ExecuteScript(""), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(record::Text(Record(i)->ScriptCmd), "");

  std::string text;
  for (int i = 0; i < 2000; ++i) text += static_cast<char>('a' + i % 26);
  std::memset(Record(1)->ScriptCmd, 'x', sizeof Record(1)->ScriptCmd);  // an old, longer text
  EXPECT_EQ(m_Commands->ExecuteScript(text), 3);
  for (int i = 0; i < 3; ++i) {
    const tagMapServerData* data = Record(i);
    EXPECT_EQ(std::string(data->ScriptCmd, 1023), text.substr(0, 1023)) << i;
    EXPECT_EQ(data->ScriptCmd[1023], '\0') << i;
  }
}

TEST_F(OperatorCommandsTest, ResetLogCountAsksOnlyForALiveMapServer) {
  // A record naming a process that is not a map server of this machine (this test) and a
  // dead one: nothing asked, nothing written.
  record::SetProcessId(*Record(0), platform::CurrentProcessId());
  m_Commands->ResetLogCountSelected(0);
  m_Commands->ResetLogCount(1);
  m_Commands->ResetLogCountSelected(-1);
  m_Commands->ResetLogCount(7);
  EXPECT_TRUE(m_Dialogs.records.empty());
  EXPECT_EQ(record::Load(Record(0)->ResetLogRequest), 0);
  std::vector<std::string> selected;
  for (const auto& line : m_Log.Texts(llWarn))
    if (line.find("niResetLogCountClick") != std::string::npos) selected.push_back(line);
  EXPECT_EQ(selected, std::vector<std::string>{"TVemoMapServerManagerMain::niResetLogCountClick index = 0"})
      << "the selected map is logged, no selection is not";

  // A live map server: Cancel changes nothing, OK posts the request, which the server
  // acts on (it zeroes its counters and clears the request).
  ASSERT_TRUE(LaunchMapServer(Map(2)));
  ASSERT_TRUE(WaitUntil([&] { return Record(2)->LogLevelCounts[llWarn - llDebug] > 0; }));
  m_Commands->ResetLogCountSelected(2);
  ASSERT_EQ(m_Dialogs.records.size(), 1u);
  EXPECT_EQ(m_Dialogs.records[0].text, "Reset Log of this Map(Thirteen)?");
  EXPECT_EQ(m_Dialogs.records[0].caption, "ResetLogCount");
  EXPECT_EQ(record::Load(Record(2)->ResetLogRequest), 0);
  m_Dialogs.answers.push_back(true);
  m_Commands->ResetLogCountSelected(2);
  EXPECT_TRUE(WaitUntil([&] {
    return Record(2)->LogLevelCounts[llWarn - llDebug] == 0 && record::Load(Record(2)->ResetLogRequest) == 0;
  }));
}

TEST_F(OperatorCommandsTest, StartRestartMapReadsTheMapIdBox) {
  // Cancel, then text that is no number (map id 0: no such map), then a real id.
  m_Commands->StartRestartMap();
  m_Dialogs.values.push_back("abc");
  m_Commands->StartRestartMap();
  ASSERT_EQ(m_Dialogs.records.size(), 2u);
  EXPECT_EQ(m_Dialogs.records[0].kind, "InputBox");
  EXPECT_EQ(m_Dialogs.records[0].caption, "Input MapID");
  EXPECT_EQ(m_Dialogs.records[0].text, "Query");
  EXPECT_TRUE(m_Log.Texts(llDebug).empty());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(record::ProcessId(*Record(i)), 0u);

  m_Dialogs.values.push_back(" 12 ");
  m_Commands->StartRestartMap();
  EXPECT_TRUE(Logged(llDebug, "TVemoMapServerManagerMain::miStartRestartMapClick Manual restaring mapdID = 12"));
  EXPECT_NE(record::ProcessId(*Record(1)), 0u);
  EXPECT_TRUE(WaitUntil([&] { return record::State(*Record(1)) == msRunning; }));
  EXPECT_EQ(record::ProcessId(*Record(0)), 0u);
}

TEST_F(OperatorCommandsTest, DebugModuleBoxConfirmsOnlyWhenTicked) {
  record::Store(Record(0)->DebugModule, 7);
  // Ticked, Cancel: the box is cleared, the setting 0, the records untouched.
  EXPECT_FALSE(m_Commands->DebugModuleReleased(true));
  ASSERT_EQ(m_Dialogs.records.size(), 1u);
  EXPECT_EQ(m_Dialogs.records[0].text, "It Will Open Debug Module, Are You Sure?");
  EXPECT_EQ(m_Dialogs.records[0].caption, "Confirm");
  EXPECT_EQ(m_Config.Value("cbDebugModule"), "0");
  EXPECT_EQ(record::Load(Record(0)->DebugModule), 7);

  m_Dialogs.answers.push_back(true);
  EXPECT_TRUE(m_Commands->DebugModuleReleased(true));
  EXPECT_EQ(m_Config.Value("cbDebugModule"), "1");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(record::Load(Record(i)->DebugModule), 1);

  // Cleared: no question, 0 everywhere.
  EXPECT_FALSE(m_Commands->DebugModuleReleased(false));
  EXPECT_EQ(m_Dialogs.records.size(), 2u);
  EXPECT_EQ(m_Config.Value("cbDebugModule"), "0");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(record::Load(Record(i)->DebugModule), 0);
}

TEST_F(OperatorCommandsTest, BrowseShowAndMinimizeReachTheirTargets) {
  std::string path = "unchanged";
  EXPECT_FALSE(m_Commands->BrowseScriptPath(path));
  EXPECT_EQ(path, "unchanged");
  EXPECT_EQ(m_Dialogs.records.back().text, "Select script path:");
  m_Dialogs.values.push_back("/srv/scripts");
  ASSERT_TRUE(m_Commands->BrowseScriptPath(path));
  EXPECT_EQ(path, "/srv/scripts/");
  EXPECT_EQ(m_Config.Value("edtScriptPath"), "/srv/scripts/");

  m_Commands->BringToTop(-1);
  EXPECT_EQ(m_Dialogs.records.back().kind, "Message");
  EXPECT_EQ(m_Dialogs.records.back().text, "Can'tFindServer");

  // The map server keeps the show state that the requests leave, and shows it in MsgText.
  ASSERT_TRUE(LaunchMapServer(Map(0)));
  m_Commands->MinimizeAll();
  EXPECT_TRUE(WaitUntil([&] { return record::Text(Record(0)->MsgText).find("minimised") != std::string::npos; }))
      << record::Text(Record(0)->MsgText);
  m_Commands->BringToTop(0);
  EXPECT_TRUE(WaitUntil([&] { return record::Text(Record(0)->MsgText).find("in front") != std::string::npos; }))
      << record::Text(Record(0)->MsgText);
  EXPECT_EQ(m_Dialogs.records.size(), 3u);
}

TEST_F(OperatorCommandsTest, MemoryDumpIsOneDebugEntryWithALineAMap) {
  ASSERT_TRUE(LaunchMapServer(Map(1)));
  for (int i = 0; i < 3; ++i) Map(i).SampleMemory();  // the refresh tick's sample
  m_Commands->OutputMemory();
  const auto entries = m_Log.Texts(llDebug);
  ASSERT_EQ(entries.size(), 1u);
  const std::regex expected(
      "Eleven\t11\t0\\.000\t0\\.000\r\n"
      "Twelve\t12\t[0-9]+\\.[0-9]{3}\t[0-9]+\\.[0-9]{3}\r\n"
      "Thirteen\t13\t0\\.000\t0\\.000\r\n");
  EXPECT_TRUE(std::regex_match(entries[0], expected)) << entries[0];
  EXPECT_EQ(entries[0].find("Twelve\t12\t0.000"), std::string::npos) << "a live server has a working set";
}

// The controller's window on the real bus, recording what the manager sends it.
struct ControllerWindow {
  ControllerWindow(const std::string& windowClass, const std::string& title) {
    endpoint = platform::BusEndpoint::Open(windowClass, title,
                                           [this](const platform::BusMessage& m) { got.push_back(m.Msg); });
  }
  bool Received(uint32_t msg) {
    return WaitUntil(
        [&] {
          endpoint->Pump(10);
          return std::find(got.begin(), got.end(), msg) != got.end();
        },
        3000);
  }
  std::unique_ptr<platform::BusEndpoint> endpoint;
  std::vector<uint32_t> got;
};

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

TEST_F(OperatorCommandsTest, CopyDataRegistersTheControllerByExactBytes) {
  const std::string title = "Ctl" + std::to_string(platform::CurrentProcessId());
  ControllerWindow controller("CtlClass", title);
  ASSERT_TRUE(controller.endpoint);

  // Three parts: nothing changes. Numbers other than 101 and 103: ignored.
  m_Commands->HandleCopyData(103, Bytes("CtlClass|" + title + "|"));
  m_Commands->HandleCopyData(1, Bytes("CtlClass|" + title));
  m_Commands->HandleCopyData(104, Bytes("CtlClass|" + title));
  EXPECT_EQ(m_Launcher->ControllerClass(), "");
  EXPECT_FALSE(controller.Received(WM_CONTROLLER_REGISTERED));

  m_Commands->HandleCopyData(103, Bytes("CtlClass|" + title));
  EXPECT_EQ(m_Launcher->ControllerClass(), "CtlClass");
  EXPECT_EQ(m_Launcher->ControllerTitle(), title);
  EXPECT_TRUE(controller.Received(WM_CONTROLLER_REGISTERED));

  // The block is its bytes, as the bus delivers them to the window: a zero byte inside is
  // kept, and nothing after the block is read, though the receiving buffer still holds the
  // tail of the longer block that came before.
  auto window = platform::BusEndpoint::Open("CmdTestWindow", title, [this](const platform::BusMessage& message) {
    m_Commands->HandleCopyData(message.Msg, message.Data);
  });
  ASSERT_TRUE(window);
  auto deliver = [&](const std::string& text) {
    ASSERT_TRUE(platform::SendCopyData(window->Handle(), 103, text.data(), text.size()));
    ASSERT_EQ(window->Pump(3000), 1);
  };
  deliver(std::string("a\0b|c", 5));
  EXPECT_EQ(m_Launcher->ControllerClass(), std::string("a\0b", 3));
  EXPECT_EQ(m_Launcher->ControllerTitle(), "c");
  deliver("x|y|z|w");
  EXPECT_EQ(m_Launcher->ControllerClass(), std::string("a\0b", 3)) << "four parts change nothing";
  deliver("x|y");
  EXPECT_EQ(m_Launcher->ControllerClass(), "x");
  EXPECT_EQ(m_Launcher->ControllerTitle(), "y");
}

TEST_F(OperatorCommandsTest, CloseAllAndExitWaitsForNoPlayerThenKillsAndTells) {
  const std::string title = "Ctl" + std::to_string(platform::CurrentProcessId());
  ControllerWindow controller("CtlClass", title);
  m_Launcher->SetControllerWindow("CtlClass", title);
  // Servers that stop writing their figures, so that their player counts stay as set.
  ASSERT_TRUE(LaunchMapServer(Map(0), "*:hang@0"));
  ASSERT_TRUE(LaunchMapServer(Map(1), "*:hang@0"));
  for (int i : {0, 1}) ASSERT_TRUE(WaitUntilHung(Map(i)));
  record::Store(Record(0)->PlayerCnt, 0);
  record::Store(Record(1)->PlayerCnt, 0);
  const int handle0 = Map(0).GetProcessInfo().ProcessHandle;
  const int handle1 = Map(1).GetProcessInfo().ProcessHandle;

  // A player online in a map without a server: only the log line.
  record::Store(Record(2)->PlayerCnt, 1);
  m_Commands->HandleCopyData(101, {});
  EXPECT_TRUE(Logged(llInfo, "if(this->GetTotalPlayerCnt() != 0)"));
  EXPECT_TRUE(platform::IsProcessHandleRunning(handle0));
  EXPECT_TRUE(platform::IsProcessHandleRunning(handle1));
  EXPECT_FALSE(controller.Received(WM_CONTROLLER_CLOSED));

  record::Store(Record(2)->PlayerCnt, 0);
  try {
    m_Commands->HandleCopyData(101, {});
    ADD_FAILURE() << "the process was not ended";
  } catch (const ProcessEnded& end) {
    EXPECT_EQ(end.exitCode, 0);
  }
  EXPECT_FALSE(platform::IsProcessHandleRunning(handle0));
  EXPECT_FALSE(platform::IsProcessHandleRunning(handle1));
  EXPECT_GE(m_Window.messagesProcessed, 2) << "the window answers between the kills";
  EXPECT_TRUE(Logged(llInfo, "Close Success!"));
  EXPECT_TRUE(controller.Received(WM_CONTROLLER_CLOSED));
}

// Live map server processes whose command line names a map of `server`, read from /proc.
int LiveMapServersOf(const std::string& server) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string commandLine = ReadFile(entry.path().string() + "/cmdline");  // empty for a zombie
    std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
    if (commandLine.find("VemoMapServer") != std::string::npos &&
        commandLine.find(" " + server + "_") != std::string::npos)
      ++count;
  }
  return count;
}

TEST_F(OperatorCommandsTest, CloseAllAndExitEndsARunningStartPassBeforeItsKillLoop) {
  // A machine of its own: the real map server programs and 60 maps.
  TempDir data{"vemo-cmd-pass"};
  for (const char* program : {"VemoMapServer", "VemoMapServerDM"})
    ASSERT_EQ(symlink((MapServerDataDir() + program).c_str(), (data.Path() + program).c_str()), 0);
  const std::string server = "Pass" + std::to_string(platform::CurrentProcessId());
  m_Config.SetString("edtScriptPath", (MapServerDataDir() + "Script/").c_str());
  std::string list;
  for (int i = 0; i < 60; ++i)
    list += std::to_string(200 + i) + " " + server + " P" + std::to_string(i) + " " + std::to_string(i + 1) +
            " 1 500 0 0 1\n";
  data.Write("Map/MapID.txt", list);
  MapServerInfoManager maps{1};
  MapServerLauncher::Settings settings;
  settings.Config = &m_Config;
  settings.Window = &m_Window;
  settings.Maps = &maps;
  settings.MapDataDir = data.Path();
  auto launcher = std::make_unique<MapServerLauncher>(settings);
  OperatorCommands commands(*launcher, m_Config, m_Window);
  // Servers that write no figures, so that no player ever appears.
  setenv("VEMO_MS_PHASE_MS", "0", 1);
  setenv("VEMO_MS_FAULTS", "*:hang@0", 1);
  launcher->StartService();
  ASSERT_EQ(maps.GetMapInfoCount(), 60);
  launcher->CacheLaunchSettings();
  launcher->StartAllServers(false);
  // The close comes while the pass launches.
  tagMapServerData* first = maps.GetMapInfo(0)->GetShareData();
  ASSERT_TRUE(WaitUntil([&] { return record::ProcessId(*first) != 0; }, 20000, 1));
  ASSERT_TRUE(launcher->IsStartPassRunning()) << "the pass ended before the close came";

  EXPECT_THROW(commands.HandleCopyData(101, {}), ProcessEnded);

  EXPECT_TRUE(Logged(llInfo, "Close Success!"));
  // Whatever the pass would still launch, it has launched once it ends.
  EXPECT_TRUE(WaitUntil([&] { return !launcher->IsStartPassRunning(); }, 30000));
  EXPECT_EQ(LiveMapServersOf(server), 0) << "a map server outlives the manager";
  ThreadManager::GetInstance()->StopAll();
  unsetenv("VEMO_MS_FAULTS");
  { MapServerReaper reaper{maps}; }
  launcher.reset();
  maps.Clear();
}

TEST_F(OperatorCommandsTest, TestEurekaLogAsksThenEndsThroughTheCrashReport) {
  m_Commands->TestCrashReport();  // Cancel
  ASSERT_EQ(m_Dialogs.records.size(), 1u);
  EXPECT_EQ(m_Dialogs.records[0].caption, "TestEurekaLog");
  EXPECT_TRUE(m_Dialogs.records[0].text.ends_with("?"));

  const std::string reports = m_Dir.Path() + "reports/";
  const pid_t child = fork();
  if (child == 0) {
    platform::InstallCrashReporting(reports);
    m_Dialogs.answers.push_back(true);
    m_Commands->TestCrashReport();
    _exit(0);  // not reached
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGSEGV);
  std::string report;
  for (const auto& entry : std::filesystem::directory_iterator(reports)) {
    std::ifstream in(entry.path());
    report.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  EXPECT_NE(report.find("SIGSEGV"), std::string::npos) << report;
  EXPECT_NE(report.find("TestCrashReport"), std::string::npos) << "the call stack names the command";
}

}  // namespace
