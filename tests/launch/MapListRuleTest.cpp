// The one rule of the threads that share the map list, exercised under ThreadSanitizer: the
// start worker runs passes, a reader thread walks the list as the status request thread
// does, and the window thread rebuilds the list ("SaveApply"), applies the heartbeat rule
// and counts players, all at once.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "LaunchTestSupport.h"

namespace {

// Dialogs that any thread may use: failed launches of the start worker and refusals of
// the window thread count here.
class CountingDialogs : public platform::Dialogs {
 public:
  bool Ask(const std::string&, const std::string&) override { return true; }
  void Message(const std::string& text) override {
    std::lock_guard<std::mutex> lock(m_Mutex);
    (text.rfind("The map list cannot be reloaded", 0) == 0 ? refusals : launchFailures)++;
  }
  void ErrorBox(const std::string&, const std::string&) override {}
  bool InputBox(const std::string&, const std::string&, std::string&) override { return false; }
  bool BrowseForFolder(const std::string&, std::string&) override { return false; }
  int refusals = 0, launchFailures = 0;

 private:
  std::mutex m_Mutex;
};

TEST(MapListRuleTest, PassesRebuildsAndReadersShareTheListWithoutARace) {
  static TempDir logDir;
  setenv("VEMO_LOG_DIR", logDir.Path().c_str(), 1);
  RecordingLog log;
  ASSERT_TRUE(LoadGameDataComponent("Pellwyn.dll"));

  // A map data directory without map server programs: every launch fails (a fork whose
  // exec fails), so the passes are short and many.
  TempDir dir;
  const std::string server = UniqueName("Rule");
  std::string list;
  for (int id = 1; id <= 12; ++id)
    list += std::to_string(id) + "\t" + server + "\tMap\t" + std::to_string(id) + "\t1\t500\t0\t0\t1\n";
  std::filesystem::create_directories(dir.Path() + "MapServerData/Map");
  dir.Write("MapServerData/Map/MapID.txt", list);

  MemoryConfig config;
  TestWindow window;
  CountingDialogs dialogs;
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
    // At least 1.5 s and two passes (a sanitizer makes forks slow), at most 60 s.
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::steady_clock::now() - start; };
    while ((elapsed() < std::chrono::milliseconds(1500) || launcher.GetStartPassCount() < 2) &&
           elapsed() < std::chrono::seconds(60)) {
      if (++round % 8 == 0) launcher.StartAllServers(false);
      launcher.ApplyHeartbeatRule();
      launcher.GetTotalPlayerCnt();
      if (launcher.SaveApply()) ++rebuilt;
      for (int i = 0; i < maps.GetMapInfoCount(); ++i)
        record::State(*maps.GetMapInfo(i)->GetShareData());
      platform::SleepMs(1);
    }
    done.store(true);
    reader.join();
    EXPECT_GT(rebuilt, 0);
    EXPECT_GT(readerRecords.load(), 0);
    EXPECT_GE(launcher.GetStartPassCount(), 2u);
    EXPECT_EQ(window.mapCount, 12);
  }
  EXPECT_GT(dialogs.launchFailures, 0);
  platform::SetDialogs(nullptr);
  UnloadGameDataComponent();
}

}  // namespace
