// The launch-control component through its command-line client, with the manager's side
// (proxy, callbacks, process-launcher timer) in this process: the test thread plays the
// window thread and ticks the timer while the client runs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "CommandsTestSupport.h"
#include "HalvixSocket.h"
#include "launch/CHalvixProxy.h"
#include "launch/LaunchControl.h"
#include "platform/paths.h"
#include "runtime/ThreadManager.h"
#include "support/ChildProgram.h"
#include "support/RecordingLog.h"

namespace {

// The notifications of "Start" go to the component, as the main window's hooks send them.
struct ProxyHooks : IServiceHooks {
  void NotifyStarting() override { CHalvixProxy::GetProxy().NotifyStarting(); }
  void NotifyStarted() override { CHalvixProxy::GetProxy().NotifyStarted(); }
};

class LaunchControlTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(LoadGameDataComponent("Pellwyn.dll")); }

  void SetUp() override {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    m_OldDir = cwd;
    // A runtime directory of this test only, so that no other manager's socket is found.
    ASSERT_EQ(mkdir((m_Dir.Path() + "run").c_str(), 0700), 0);
    setenv("XDG_RUNTIME_DIR", (m_Dir.Path() + "run").c_str(), 1);
    m_Log.SetLogPath((m_Dir.Path() + "logs/").c_str(), "");
    m_Server = "HalvixTest" + std::to_string(platform::CurrentProcessId());
    m_Dir.Write("data/Map/MapID.txt", "21 " + m_Server + " A 1 1 500 0 0 1\n" + "22 " + m_Server + " B 2 1 500 0 0 1\n" +
                                          "23 " + m_Server + " C 3 1 500 0 0 1\n");
    MapServerLauncher::Settings settings;
    settings.Config = &m_Config;
    settings.Window = &m_Window;
    settings.Maps = &m_Maps;
    settings.Hooks = &m_Hooks;
    settings.MapDataDir = m_Dir.Path() + "data/";
    m_Launcher = std::make_unique<MapServerLauncher>(settings);
    launchcontrol::Bind(m_Launcher.get(), &m_Window);
  }
  void TearDown() override {
    launchcontrol::Release();
    if (chdir(m_OldDir.c_str()) != 0) ADD_FAILURE() << "cannot return to " << m_OldDir;
    { MapServerReaper reaper{m_Maps}; }
    m_Launcher.reset();
    m_Maps.Clear();
  }

  // Starts the client with `args`; its output goes to a file of the test.
  pid_t Client(const std::vector<std::string>& args, const std::string& name) {
    return SpawnProgram(std::string(VEMO_BIN_DIR) + "HalvixClient", args, m_Dir.Path() + name);
  }
  static int Ended(pid_t pid) { return ProgramExitCode(pid); }
  // Ticks the process-launcher timer, as the window does every 500 ms, until the client ends.
  int TickUntilEnded(pid_t pid) {
    for (int i = 0; i < 2000; ++i) {
      launchcontrol::ProcessLauncherTick();
      const int code = Ended(pid);
      if (code >= 0) return code;
      platform::SleepMs(10);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  std::string Output(const std::string& name) { return ReadFile(m_Dir.Path() + name); }

  RecordingLog m_Log;
  TempDir m_Dir{"vemo-cmd"};
  std::string m_OldDir;
  std::string m_Server;
  MemoryConfig m_Config;
  ProxyHooks m_Hooks;
  TestWindow m_Window;
  MapServerInfoManager m_Maps{1};
  std::unique_ptr<MapServerLauncher> m_Launcher;
};

TEST_F(LaunchControlTest, StartsOnceAndStopsWhenThePlayersHaveLeft) {
  ASSERT_EQ(chdir(VEMO_BIN_DIR), 0) << "the component is loaded from the current directory";
  ASSERT_TRUE(launchcontrol::Init());
  EXPECT_TRUE(CHalvixProxy::GetProxy().IsInitialized());

  // Stop before Start is refused.
  EXPECT_EQ(TickUntilEnded(Client({"stop"}, "stop0")), 1);
  EXPECT_NE(Output("stop0").find("result refused the service has not been started"), std::string::npos);

  EXPECT_EQ(TickUntilEnded(Client({"start", "--wait"}, "start1")), 0) << Output("start1");
  const std::string first = Output("start1");
  EXPECT_LT(first.find("event starting"), first.find("event started"));
  EXPECT_NE(first.find("result ok started"), std::string::npos);
  EXPECT_FALSE(m_Window.startEnabled);
  EXPECT_EQ(m_Window.mapCount, 3);

  EXPECT_EQ(TickUntilEnded(Client({"start"}, "start2")), 1);
  EXPECT_NE(Output("start2").find("result refused the service was started already"), std::string::npos);

  // Two live map servers that stop writing their figures (and so leave their requests as
  // they find them); a player online in the third map, which has no server.
  ASSERT_TRUE(LaunchMapServer(*m_Maps.GetMapInfo(0), "*:hang@0"));
  ASSERT_TRUE(LaunchMapServer(*m_Maps.GetMapInfo(1), "*:hang@0"));
  platform::SleepMs(300);
  for (int i = 0; i < 2; ++i) record::Store(m_Maps.GetMapInfo(i)->GetShareData()->PlayerCnt, 0);
  tagMapServerData* third = m_Maps.GetMapInfo(2)->GetShareData();
  record::Store(third->PlayerCnt, 2);

  // While the stop waits, the window answers: its timer polls the component again, which
  // answers a status request; only then does the last player leave.
  pid_t status = 0;
  int statusCode = -1;
  m_Window.onProcessMessages = [&] {
    launchcontrol::ProcessLauncherTick();
    if (status == 0) status = Client({"status"}, "status");
    if (statusCode < 0 && (statusCode = Ended(status)) >= 0) record::Store(third->PlayerCnt, 0);
  };
  const pid_t stop = Client({"stop", "--wait"}, "stop");
  EXPECT_EQ(TickUntilEnded(stop), 0) << Output("stop");
  EXPECT_EQ(statusCode, 0);
  EXPECT_NE(Output("status").find("result ok service stopping"), std::string::npos) << Output("status");
  const std::string stopped = Output("stop");
  EXPECT_LT(stopped.find("event stopping"), stopped.find("event stopped"));
  EXPECT_NE(stopped.find("result ok stopped"), std::string::npos);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(record::CloseRequest(*m_Maps.GetMapInfo(i)->GetShareData()), 1) << i;
  EXPECT_EQ(record::CloseRequest(*third), 0) << "a map without a live server gets no request";
  ThreadManager::GetInstance()->StopAll();
}

TEST_F(LaunchControlTest, MissingOrFailingComponentLeavesTheManagerWithoutIt) {
  // No "Halvix.dll" in the current directory.
  ASSERT_EQ(chdir(m_Dir.Path().c_str()), 0);
  EXPECT_FALSE(launchcontrol::Init());
  EXPECT_EQ(m_Log.Texts(llWarn), std::vector<std::string>{"LaunchDLL Init Fail!!"});
  EXPECT_TRUE(launchcontrol::ProcessLauncherTick());
  EXPECT_FALSE(launchcontrol::LaunchControlSeen());

  // The component is there but its Init declines: its runtime directory is open to others.
  ASSERT_EQ(chdir(VEMO_BIN_DIR), 0);
  const std::string dir = m_Dir.Path() + "run/vemo-halvix";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  EXPECT_FALSE(launchcontrol::Init());
  EXPECT_EQ(m_Log.Texts(llWarn).size(), 2u);
  EXPECT_FALSE(CHalvixProxy::GetProxy().IsInitialized());
  EXPECT_EQ(CHalvixProxy::GetProxy().GetInstance(), nullptr);
  EXPECT_EQ(TickUntilEnded(Client({"status"}, "status")), 2) << Output("status");

  // Once the directory is private the same loaded component runs; after its release the
  // timer stops.
  ASSERT_EQ(chmod(dir.c_str(), 0700), 0);
  ASSERT_TRUE(launchcontrol::Init());
  EXPECT_TRUE(launchcontrol::ProcessLauncherTick());
  EXPECT_TRUE(launchcontrol::LaunchControlSeen());
  EXPECT_EQ(TickUntilEnded(Client({"status"}, "status")), 0);
  EXPECT_NE(Output("status").find("result ok service idle"), std::string::npos) << Output("status");
  launchcontrol::Release();
  EXPECT_FALSE(launchcontrol::ProcessLauncherTick());
  EXPECT_FALSE(platform::FileExists(halvix::SocketPath(dir + "/", getpid()))) << "the socket goes with the component";
}

TEST_F(LaunchControlTest, AnotherUserIsRefused) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  ASSERT_EQ(chdir(VEMO_BIN_DIR), 0);
  ASSERT_TRUE(launchcontrol::Init());
  // Only loosened permissions let another user reach the socket at all: the peer check is
  // the second wall.
  const std::string dir = m_Dir.Path() + "run/vemo-halvix/";
  const std::string socket = halvix::SocketPath(dir, getpid());
  for (const std::string& path : {m_Dir.Path(), m_Dir.Path() + "run", dir}) ASSERT_EQ(chmod(path.c_str(), 0711), 0);
  ASSERT_EQ(chmod(socket.c_str(), 0777), 0);

  const std::string answer = m_Dir.Path() + "answer";
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    std::string error;
    const int fd = halvix::Connect(socket, error);
    if (fd < 0) _exit(3);
    if (send(fd, "start\n", 6, MSG_NOSIGNAL) != 6) _exit(4);
    char buffer[256];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    const int out = open("/dev/stdout", O_WRONLY);
    (void)out;
    FILE* file = std::fopen(answer.c_str(), "w");
    if (file == nullptr) _exit(0);  // the answer itself is checked below when it could be kept
    std::fwrite(buffer, 1, n > 0 ? static_cast<std::size_t>(n) : 0, file);
    std::fclose(file);
    _exit(0);
  }
  // The refusal line goes to standard error here (no logging component in this process).
  const int saved = dup(2);
  const int err = open((m_Dir.Path() + "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  dup2(err, 2);
  const int code = TickUntilEnded(child);
  dup2(saved, 2);
  close(saved);
  close(err);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(m_Window.startEnabled) << "the service was not started";
  const std::string lines = Output("stderr");
  EXPECT_NE(lines.find("a launch-control connection of user 65534 refused"), std::string::npos) << lines;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1);
}

}  // namespace
