// The launch-control component through its command-line client, with the manager's side
// (proxy, callbacks, process-launcher timer) in this process: the test thread plays the
// window thread and ticks the timer while the client runs.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "CommandsTestSupport.h"
#include "HalvixSocket.h"
#include "launch/CHalvixProxy.h"
#include "launch/LaunchControl.h"
#include "platform/paths.h"
#include "runtime/ThreadManager.h"
#include "support/ChildProgram.h"
#include "support/ProcStat.h"
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
    m_Dir.Write("data/Map/MapID.txt", "21 " + m_Server + " A 1 1 500 0 0 1\n" + "22 " + m_Server +
                                          " B 2 1 500 0 0 1\n" + "23 " + m_Server + " C 3 1 500 0 0 1\n");
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
  // Waits until a client has connected and sent its request, and sleeps awaiting the answer:
  // a socket among its descriptors and the kernel's sleeping state. A sanitized client takes
  // its time to start on a loaded machine; nothing after this depends on how long.
  static bool WaitUntilAsked(pid_t pid) {
    auto holdsSocket = [pid] {
      std::error_code error;
      for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
        if (std::filesystem::read_symlink(entry.path(), error).string().starts_with("socket:")) return true;
      return false;
    };
    return WaitUntil([&] { return ProcState(static_cast<uint32_t>(pid)) == 'S' && holdsSocket(); });
  }
  // Threads of this process, as the system counts them.
  static int ThreadCount() {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
      while (dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
      closedir(tasks);
    }
    return count;
  }

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
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(WaitUntilHung(*m_Maps.GetMapInfo(i)));
  for (int i = 0; i < 2; ++i) record::Store(m_Maps.GetMapInfo(i)->GetShareData()->PlayerCnt, 0);
  tagMapServerData* third = m_Maps.GetMapInfo(2)->GetShareData();
  record::Store(third->PlayerCnt, 2);

  // While the stop waits, the window answers: its timer polls the component again, which
  // answers a status request; only then does the last player leave.
  // A second stop meanwhile is answered "busy".
  pid_t status = 0, busy = 0;
  int statusCode = -1, busyCode = -1;
  m_Window.onProcessMessages = [&] {
    launchcontrol::ProcessLauncherTick();
    if (status == 0) status = Client({"status"}, "status");
    if (busy == 0) busy = Client({"stop"}, "busy");
    if (statusCode < 0) statusCode = Ended(status);
    if (busyCode < 0) busyCode = Ended(busy);
    if (statusCode >= 0 && busyCode >= 0) record::Store(third->PlayerCnt, 0);
  };
  const pid_t stop = Client({"stop", "--wait"}, "stop");
  EXPECT_EQ(TickUntilEnded(stop), 0) << Output("stop");
  EXPECT_EQ(statusCode, 0);
  EXPECT_NE(Output("status").find("result ok service stopping"), std::string::npos) << Output("status");
  EXPECT_EQ(busyCode, 1);
  EXPECT_NE(Output("busy").find("result refused busy"), std::string::npos) << Output("busy");
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
  EXPECT_EQ(TickUntilEnded(Client({"status"}, "status")), 0);
  EXPECT_NE(Output("status").find("result ok service idle"), std::string::npos) << Output("status");
  launchcontrol::Release();
  EXPECT_FALSE(platform::FileExists(halvix::SocketPath(dir + "/", getpid()))) << "the socket goes with the component";
  EXPECT_EQ(TickUntilEnded(Client({"status"}, "status")), 2) << "a released component answers nobody";
}

TEST_F(LaunchControlTest, TheWindowsCloseAbandonsAStopAndRefusesWhatFollows) {
  ASSERT_EQ(chdir(VEMO_BIN_DIR), 0);
  ASSERT_TRUE(launchcontrol::Init());
  EXPECT_EQ(TickUntilEnded(Client({"start"}, "start")), 0) << Output("start");
  ASSERT_TRUE(LaunchMapServer(*m_Maps.GetMapInfo(0), "*:hang@0"));
  tagMapServerData* live = m_Maps.GetMapInfo(0)->GetShareData();
  record::Store(live->PlayerCnt, 0);
  record::Store(m_Maps.GetMapInfo(2)->GetShareData()->PlayerCnt, 1);  // the stop waits for this player

  // A stop, then a start and a second stop, all read by one poll; the window's close begins
  // while the first stop waits for the last player.
  const pid_t stop = Client({"stop", "--wait"}, "stop");
  ASSERT_TRUE(WaitUntilAsked(stop));
  const pid_t start = Client({"start"}, "start2");
  const pid_t stop2 = Client({"stop"}, "stop2");
  ASSERT_TRUE(WaitUntilAsked(start) && WaitUntilAsked(stop2));
  m_Window.onProcessMessages = [&] {
    m_Window.closing = true;
    launchcontrol::BeginClose();
  };
  EXPECT_EQ(TickUntilEnded(stop), 1) << Output("stop");
  const std::string abandoned = Output("stop");
  EXPECT_NE(abandoned.find("result error "), std::string::npos) << abandoned;
  EXPECT_EQ(abandoned.find("event stopped"), std::string::npos) << abandoned;
  EXPECT_EQ(record::CloseRequest(*live), 0) << "no map server was asked to close";
  for (const auto& [pid, name] : {std::pair{start, "start2"}, std::pair{stop2, "stop2"}}) {
    EXPECT_EQ(TickUntilEnded(pid), 1) << Output(name);
    EXPECT_NE(Output(name).find("result refused closing"), std::string::npos) << Output(name);
  }

  // The component is polled no more: nobody answers.
  EXPECT_EQ(TickUntilEnded(Client({"--timeout", "2", "status"}, "late")), 4) << Output("late");

  // A callback the component makes after that creates no worker and starts nothing.
  ThreadManager::GetInstance()->StopAll();
  m_Window.startEnabled = true;
  const int threads = ThreadCount();
  EXPECT_FALSE(launchcontrol::RequestStart());
  EXPECT_TRUE(m_Window.startEnabled);
  EXPECT_EQ(ThreadCount(), threads);
  EXPECT_EQ(ThreadManager::GetInstance()->GetThreadCount(), 0);
}

TEST_F(LaunchControlTest, TheSocketHoldsAgainstClientsThatMisbehave) {
  ASSERT_EQ(chdir(VEMO_BIN_DIR), 0);
  ASSERT_TRUE(launchcontrol::Init());
  const std::string socket = halvix::SocketPath(m_Dir.Path() + "run/vemo-halvix/", getpid());
  auto open = [&] {
    std::string error;
    const int fd = halvix::Connect(socket, error);
    EXPECT_GE(fd, 0) << error;
    fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
  };
  // What the component answers until it closes the connection, the window ticking.
  auto answerUntilClosed = [&](int fd) {
    std::string text;
    for (int i = 0; i < 500; ++i) {
      launchcontrol::ProcessLauncherTick();
      char buffer[512];
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n == 0) break;
      if (n > 0)
        text.append(buffer, static_cast<std::size_t>(n));
      else
        platform::SleepMs(10);
    }
    close(fd);
    return text;
  };

  // A line over the limit, and an unknown command: one error line each, then the end.
  int fd = open();
  const std::string overlong(300, 'x');
  ASSERT_EQ(send(fd, overlong.data(), overlong.size(), MSG_NOSIGNAL), 300);
  EXPECT_EQ(answerUntilClosed(fd), "result error command line too long\n");
  fd = open();
  ASSERT_EQ(send(fd, "launch\nstatus\n", 14, MSG_NOSIGNAL), 14);
  EXPECT_EQ(answerUntilClosed(fd), "result error unknown command (start, stop, status, watch)\n")
      << "nothing after the unknown command is answered";

  // A client that asks and asks and never reads is let go; the window never waits for it.
  fd = open();
  std::string requests;
  for (int i = 0; i < 200; ++i) requests += "status\n";
  bool dropped = false;
  for (int tick = 0; tick < 2000 && !dropped; ++tick) {
    if (send(fd, requests.data(), requests.size(), MSG_NOSIGNAL) < 0 && errno != EAGAIN)
      dropped = errno == EPIPE || errno == ECONNRESET;
    launchcontrol::ProcessLauncherTick();
  }
  close(fd);
  EXPECT_TRUE(dropped) << "the component kept a client that never reads";
  EXPECT_EQ(TickUntilEnded(Client({"status"}, "status")), 0) << Output("status");
  EXPECT_NE(Output("status").find("result ok service idle"), std::string::npos) << Output("status");
}

TEST_F(LaunchControlTest, AComponentOthersCouldHaveWrittenIsNotLoaded) {
  // A copy of the component in a directory of its own, which becomes the current one.
  const std::string dir = m_Dir.Path() + "cwd";
  const std::string library = dir + "/libHalvix.so";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  std::filesystem::copy_file(std::string(VEMO_BIN_DIR) + "libHalvix.so", library);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  auto refusedFor = [&](const std::string& why) {
    const std::size_t before = m_Log.Texts(llWarn).size();
    EXPECT_FALSE(launchcontrol::Init()) << why;
    const std::vector<std::string> lines = m_Log.Texts(llWarn);
    ASSERT_EQ(lines.size(), before + 2) << why;
    EXPECT_NE(lines[before].find(why), std::string::npos) << lines[before];
    EXPECT_EQ(lines[before + 1], "LaunchDLL Init Fail!!");
    EXPECT_EQ(TickUntilEnded(Client({"status"}, "status")), 2) << "nothing listens";
  };
  ASSERT_EQ(chmod(library.c_str(), 0666), 0);
  refusedFor(library + " is writable by every user");
  ASSERT_EQ(chmod(library.c_str(), 0755), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
  refusedFor(dir + " is writable by every user");
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  if (getuid() == 0) {  // only root can give a file away
    ASSERT_EQ(chown(library.c_str(), 65534, 65534), 0);
    refusedFor(library + " belongs to user 65534");
    ASSERT_EQ(chown(library.c_str(), 0, 0), 0);
  }

  ASSERT_TRUE(launchcontrol::Init());
  EXPECT_EQ(TickUntilEnded(Client({"status"}, "status")), 0) << Output("status");
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
