// The rule of the threads that share the map list, also run under ThreadSanitizer: the map
// list is never rebuilt under a start pass ("SaveApply" is refused with its message and the
// list stays as it was), the launch settings reach the start worker without a race even
// when "StartAll" is clicked during a pass, and a reader thread walks the list as the status
// request thread does while the window thread rebuilds it between passes.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "LaunchTestSupport.h"

namespace {

constexpr const char* kRefusal =
    "The map list cannot be reloaded while map servers are being started or closed. Try again when that is done.";

// Dialogs that any thread may use. The start worker's failed-launch message can be held
// open, so that a pass lasts exactly as long as the test wants.
class GateDialogs : public platform::Dialogs {
 public:
  bool Ask(const std::string&, const std::string&) override { return true; }
  void Message(const std::string& text) override {
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (text == kRefusal) {
      ++refusals;
      return;
    }
    ++launchFailures;
    m_Held = true;
    m_Changed.notify_all();
    m_Changed.wait(lock, [&] { return m_Open; });
    m_Held = false;
  }
  void ErrorBox(const std::string&, const std::string&) override {}
  bool InputBox(const std::string&, const std::string&, std::string&) override { return false; }
  bool BrowseForFolder(const std::string&, std::string&) override { return false; }

  // Holds the next failed-launch messages until Open.
  void Close() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Open = false;
  }
  void Open() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Open = true;
    m_Changed.notify_all();
  }
  bool WaitHeld() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    return m_Changed.wait_for(lock, std::chrono::seconds(60), [&] { return m_Held; });
  }
  int Refusals() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return refusals;
  }
  int refusals = 0, launchFailures = 0;

 private:
  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  bool m_Open = true, m_Held = false;
};

TEST(MapListRuleTest, NoRebuildUnderAPassAndNoRaceOnTheListOrTheLaunchSettings) {
  static TempDir logDir;
  setenv("VEMO_LOG_DIR", logDir.Path().c_str(), 1);
  RecordingLog log;
  ASSERT_TRUE(LoadGameDataComponent("Pellwyn.dll"));

  // A map data directory without map server programs: every launch fails, so the passes
  // are short and many, and each shows the failure once.
  TempDir dir;
  const std::string server = UniqueName("Rule");
  std::string list;
  for (int id = 1; id <= 12; ++id)
    list += std::to_string(id) + "\t" + server + "\tMap\t" + std::to_string(id) + "\t1\t500\t0\t0\t1\n";
  std::filesystem::create_directories(dir.Path() + "MapServerData/Map");
  dir.Write("MapServerData/Map/MapID.txt", list);

  MemoryConfig config;
  TestWindow window;
  GateDialogs dialogs;
  platform::SetDialogs(&dialogs);
  MapServerInfoManager maps(1);
  ThreadManager threads;
  MapServerLauncher::Settings settings;
  settings.Config = &config;
  settings.Window = &window;
  settings.Maps = &maps;
  settings.Threads = &threads;
  settings.MapDataDir = dir.Path() + "MapServerData/";
  {
    MapServerLauncher launcher(settings);
    launcher.StartService();

    // A pass held in its failure message: "SaveApply" is refused with its message and the
    // list keeps its maps; a click on "StartAll" with other settings meanwhile is taken.
    dialogs.Close();
    launcher.StartAllClick();
    ASSERT_TRUE(dialogs.WaitHeld());
    EXPECT_TRUE(launcher.IsStartPassRunning());
    std::vector<MapServerInfo*> before;
    for (int i = 0; i < maps.GetMapInfoCount(); ++i) before.push_back(maps.GetMapInfo(i));
    config.SetString("edtScriptPath", "/elsewhere/");
    config.SetBool("cbDebugModule", true);
    launcher.StartAllClick();
    EXPECT_FALSE(launcher.SaveApply());
    EXPECT_EQ(dialogs.Refusals(), 1);
    ASSERT_EQ(maps.GetMapInfoCount(), static_cast<int>(before.size()));
    for (int i = 0; i < maps.GetMapInfoCount(); ++i) EXPECT_EQ(maps.GetMapInfo(i), before[i]) << i;
    const uint32_t passes = launcher.GetStartPassCount();
    dialogs.Open();
    // The click's pass follows the held one.
    ASSERT_TRUE(WaitUntil([&] { return launcher.GetStartPassCount() >= passes + 2; }, 30000));
    EXPECT_TRUE(launcher.SaveApply());

    // Everything at once: passes woken by clicks, a reader, rebuilds between the passes.
    std::atomic<bool> done{false};
    std::atomic<long> readerRecords{0};
    std::thread reader([&] {
      while (!done.load()) {
        auto reading = maps.ReadLock();
        for (int i = 0; i < maps.GetMapInfoCount(); ++i) {
          const tagMapServerData* data = maps.GetMapInfo(i)->GetShareData();
          if (data == nullptr) continue;
          readerRecords += record::Load(data->PlayerCnt) + 1 + static_cast<long>(record::Text(data->MsgText).size());
        }
      }
    });
    int rebuilt = 0, round = 0;
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::steady_clock::now() - start; };
    while ((elapsed() < std::chrono::milliseconds(1500) || launcher.GetStartPassCount() < passes + 4) &&
           elapsed() < std::chrono::seconds(60)) {
      if (++round % 8 == 0) {
        config.SetString("edtScriptPath", round % 16 == 0 ? "/one/" : "/two/");
        launcher.StartAllClick();
      }
      launcher.ApplyHeartbeatRule();
      launcher.GetTotalPlayerCnt();
      if (launcher.SaveApply()) ++rebuilt;
      for (int i = 0; i < maps.GetMapInfoCount(); ++i) record::State(*maps.GetMapInfo(i)->GetShareData());
      platform::SleepMs(1);
    }
    done.store(true);
    reader.join();
    EXPECT_GT(rebuilt, 0);
    EXPECT_GT(readerRecords.load(), 0);
    EXPECT_EQ(window.mapCount, 12);
  }
  // Each pass showed its failures once, not once per map.
  EXPECT_LE(dialogs.launchFailures, static_cast<int>(log.Texts(llError).size()) / 12 + 1);
  platform::SetDialogs(nullptr);
  UnloadGameDataComponent();
}

}  // namespace
