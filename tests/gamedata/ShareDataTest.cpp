// The system-table share data: its segment, the load notice, the tables and re-creation.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "CPellwyn.h"
#include "ShareData.h"
#include "SysTables.h"
#include "platform/message_bus.h"
#include "platform/shared_memory.h"
#include "registry/CSharedMem.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"

namespace {

using gamedata::CPellwyn;

// A window that counts the load notices it receives.
class NotifyWindow {
 public:
  NotifyWindow() {
    m_Endpoint =
        platform::BusEndpoint::Open("ShareDataTest", UniqueName("notify"), [this](const platform::BusMessage& m) {
          if (m.kind == platform::BusMessage::Kind::Message && m.Msg == WM_MAPMANAGER_LOAD_SHAREDATA) ++m_Notices;
        });
  }
  uint32_t Handle() const { return m_Endpoint ? m_Endpoint->Handle() : 0; }
  // Waits up to a second for `count` notices in all.
  int Notices(int count) {
    for (int i = 0; i < 100 && m_Notices < count; ++i) m_Endpoint->Pump(10);
    m_Endpoint->Pump(0);
    return m_Notices;
  }

 private:
  std::unique_ptr<platform::BusEndpoint> m_Endpoint;
  int m_Notices = 0;
};

class ShareDataTest : public ::testing::Test {
 protected:
  RecordingLog m_Log;
  TempDir m_Dir;
  std::string m_Name = UniqueName("ShareDataTest");
};

TEST_F(ShareDataTest, InitializeNotifiesAndLoadFillsTheSharedTables) {
  CPellwyn pellwyn(m_Name, m_Dir.Path());
  EXPECT_EQ(pellwyn.GetShareMemoryInitState(), CPellwyn::kNotInitialized);
  ASSERT_NE(pellwyn.GetShareHead(), nullptr);  // a zeroed head before the segment exists
  EXPECT_EQ(pellwyn.GetShareHead()->Recreated, 0u);
  EXPECT_FALSE(pellwyn.LoadShareData());

  NotifyWindow window;
  ASSERT_NE(window.Handle(), 0u);
  ASSERT_TRUE(pellwyn.Initialize());
  EXPECT_EQ(pellwyn.GetShareMemoryInitState(), CPellwyn::kReady);
  pellwyn.SetNotifyWindow(window.Handle());
  EXPECT_EQ(window.Notices(1), 1);
  EXPECT_STREQ(pellwyn.GetShareHead()->Name, m_Name.c_str());
  EXPECT_EQ(pellwyn.GetShareHead()->Size, gamedata::kShareDataSize);
  EXPECT_EQ(pellwyn.GetSharePlayerTotal(), 0);

  // No table files: the built-in tables.
  ASSERT_TRUE(pellwyn.LoadShareData());
  EXPECT_TRUE(pellwyn.IsShareDataLoaded());
  EXPECT_EQ(pellwyn.GetShareMemoryInitState(), CPellwyn::kLoaded);
  EXPECT_EQ(pellwyn.GetSharePlayerTotal(), static_cast<int>(gamedata::DefaultPlayerTable().size()));
  EXPECT_EQ(pellwyn.GetShareItemTotal(), static_cast<int>(gamedata::DefaultItemTable().size()));

  // Another holder of the segment sees the same tables.
  bool existed = false;
  CSharedMem other(m_Name, static_cast<int>(gamedata::kShareDataSize), existed);
  ASSERT_TRUE(existed);
  auto* head = static_cast<tagShareHead*>(other.View());
  EXPECT_EQ(head->PlayerTotal, 100u);
  EXPECT_EQ(head->Reserved[gamedata::srLoaded], 1u);
  auto* rows = reinterpret_cast<gamedata::tagSharePlayerRow*>(static_cast<char*>(other.View()) +
                                                              head->Reserved[gamedata::srPlayerTableOffset]);
  EXPECT_EQ(rows[9].Level, 10);
  auto* items = reinterpret_cast<gamedata::tagShareItemRow*>(static_cast<char*>(other.View()) +
                                                             head->Reserved[gamedata::srItemTableOffset]);
  EXPECT_STREQ(items[0].Name, "Wooden Sword");

  pellwyn.UnloadShareData();
  EXPECT_EQ(pellwyn.GetShareItemTotal(), 0);
  EXPECT_EQ(head->Reserved[gamedata::srLoaded], 0u);
}

TEST_F(ShareDataTest, TableFilesReplaceTheDefaultsAndBadRowsAreSkipped) {
  m_Dir.Write("Player.txt", "# Level Exp MaxHP MaxMP\n1 0 100 50\n2 300 120 60\n3 x 140 70\n4 900 160\n");
  m_Dir.Write("Item.txt", "7 \"Long Bow\" 1 1 300\n8 " + std::string(48, 'n') + " 1 1 1\n9 Arrow 4 999 1\n");
  CPellwyn pellwyn(m_Name, m_Dir.Path());
  ASSERT_TRUE(pellwyn.Initialize());
  ASSERT_TRUE(pellwyn.LoadShareData());
  EXPECT_EQ(pellwyn.GetSharePlayerTotal(), 2);
  EXPECT_EQ(pellwyn.GetShareItemTotal(), 2);
  std::vector<std::string> warnings = m_Log.Texts(llWarn);
  ASSERT_EQ(warnings.size(), 3u);
  EXPECT_EQ(warnings[0], "CPellwyn::LoadShareData " + m_Dir.Path() +
                             "Player.txt(4): Exp is not a 32-bit integer: \"x\", line skipped");
  EXPECT_EQ(warnings[1],
            "CPellwyn::LoadShareData " + m_Dir.Path() + "Player.txt(5): expected 4 fields, found 3, line skipped");
  EXPECT_EQ(warnings[2], "CPellwyn::LoadShareData " + m_Dir.Path() + "Item.txt(2): Name \"" + std::string(48, 'n') +
                             "\" is longer than 47 bytes, line skipped");
  EXPECT_TRUE(m_Log.Contains("CPellwyn::LoadShareData 2 player rows, 2 item rows (" + m_Dir.Path() + "Player.txt, " +
                             m_Dir.Path() + "Item.txt)"));
}

TEST_F(ShareDataTest, RecreateSetsTheVersionClearsTheFlagAndAsksForAReload) {
  CPellwyn pellwyn(m_Name, m_Dir.Path());
  NotifyWindow window;
  pellwyn.SetNotifyWindow(window.Handle());  // before Initialize: the notice waits for the segment
  EXPECT_EQ(window.Notices(1), 0);
  ASSERT_TRUE(pellwyn.Initialize());
  EXPECT_EQ(window.Notices(1), 1);
  ASSERT_TRUE(pellwyn.LoadShareData());

  pellwyn.GetShareHead()->Recreated = 1;  // an updater asks for version 7
  pellwyn.GetShareHead()->VemoSysVersion = 7;
  ASSERT_TRUE(pellwyn.RecreateFileMapping(7));
  EXPECT_EQ(pellwyn.GetShareHead()->VemoSysVersion, 7u);
  EXPECT_EQ(pellwyn.GetShareHead()->Recreated, 0u);
  EXPECT_EQ(pellwyn.GetShareMemoryInitState(), CPellwyn::kReady);
  EXPECT_EQ(pellwyn.GetSharePlayerTotal(), 0);
  EXPECT_EQ(window.Notices(2), 2);
  ASSERT_TRUE(pellwyn.LoadShareData());
  EXPECT_EQ(pellwyn.GetSharePlayerTotal(), 100);
  EXPECT_EQ(pellwyn.GetShareHead()->VemoSysVersion, 7u);
}

TEST_F(ShareDataTest, SegmentThatCannotBeMappedFailsCleanly) {
  bool existed = false;
  CSharedMem tooSmall(m_Name, 64, existed);
  CPellwyn pellwyn(m_Name, m_Dir.Path());
  EXPECT_FALSE(pellwyn.Initialize());
  EXPECT_EQ(pellwyn.GetShareMemoryInitState(), CPellwyn::kFailed);
  EXPECT_EQ(pellwyn.GetShareDataSize(), 0);
  EXPECT_EQ(pellwyn.GetSharePlayerTotal(), 0);
  EXPECT_FALSE(pellwyn.LoadShareData());
  EXPECT_EQ(m_Log.Texts(llError).size(), 2u);
}

TEST_F(ShareDataTest, ShareLockHasOneOwnerAtATime) {
  CPellwyn pellwyn(m_Name, m_Dir.Path());
  ASSERT_TRUE(pellwyn.ShareLock());
  ASSERT_TRUE(pellwyn.WaitForShareLock(0));  // re-entrant for its owner
  std::atomic<int> result{-1};
  std::thread other([&] { result = pellwyn.WaitForShareLock(50) ? 1 : 0; });
  other.join();
  EXPECT_EQ(result, 0);

  // Another thread cannot release what it does not hold.
  std::thread intruder([&] { pellwyn.ReleaseShareLock(); });
  intruder.join();
  EXPECT_EQ(m_Log.Texts(llWarn).size(), 1u);

  pellwyn.ReleaseShareLock();
  pellwyn.ReleaseShareLock();
  std::thread later([&] {
    result = pellwyn.WaitForShareLock(1000) ? 1 : 0;
    if (result == 1) pellwyn.ReleaseShareLock();
  });
  later.join();
  EXPECT_EQ(result, 1);
}

// A second holder of the share data in a process of its own: it takes the share lock, says
// so on `toParent`, and lets go when a byte arrives on `fromParent` (or ends while holding it).
[[noreturn]] void HoldShareLockInChild(const std::string& name, const std::string& dir, int toParent, int fromParent,
                                       bool dieHolding) {
  CPellwyn other(name, dir);
  char byte = other.Initialize() && other.ShareLock() ? 'L' : 'F';
  if (write(toParent, &byte, 1) != 1 || read(fromParent, &byte, 1) != 1) _exit(2);
  if (dieHolding) _exit(3);
  other.ReleaseShareLock();
  byte = 'R';
  if (write(toParent, &byte, 1) != 1) _exit(2);
  _exit(0);
}

TEST_F(ShareDataTest, ShareLockIsSeenByEveryProcessHoldingTheSegment) {
  CPellwyn pellwyn(m_Name, m_Dir.Path());
  ASSERT_TRUE(pellwyn.Initialize());
  for (bool dieHolding : {false, true}) {
    int toParent[2], fromParent[2];
    ASSERT_EQ(pipe(toParent), 0);
    ASSERT_EQ(pipe(fromParent), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) HoldShareLockInChild(m_Name, m_Dir.Path(), toParent[1], fromParent[0], dieHolding);
    char byte = 0;
    ASSERT_EQ(read(toParent[0], &byte, 1), 1);
    ASSERT_EQ(byte, 'L');
    // The other process holds the lock: this one cannot take it, from any thread.
    EXPECT_FALSE(pellwyn.WaitForShareLock(100));
    std::atomic<int> fromThread{-1};
    std::thread([&] { fromThread = pellwyn.WaitForShareLock(50) ? 1 : 0; }).join();
    EXPECT_EQ(fromThread, 0);
    ASSERT_EQ(write(fromParent[1], "x", 1), 1);
    if (!dieHolding) {
      ASSERT_EQ(read(toParent[0], &byte, 1), 1);
      EXPECT_EQ(byte, 'R');
    }
    // Released, or its holder ended: now it is this process's, re-entrant as before.
    EXPECT_TRUE(pellwyn.WaitForShareLock(5000)) << (dieHolding ? "after the holder died" : "after the release");
    EXPECT_TRUE(pellwyn.ShareLock());
    pellwyn.ReleaseShareLock();
    pellwyn.ReleaseShareLock();
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), dieHolding ? 3 : 0);
    for (int fd : {toParent[0], toParent[1], fromParent[0], fromParent[1]}) close(fd);
  }
}

TEST_F(ShareDataTest, AHolderOfAnEarlierBuildDoesNotHangTheShareLock) {
  CPellwyn pellwyn(m_Name, m_Dir.Path());
  ASSERT_TRUE(pellwyn.Initialize());
  // An earlier build held its segments with a shared lock over every byte, and never took
  // the segment lock: it blocks that lock for as long as it lives.
  int earlier = shm_open(platform::SharedMemoryObjectName(m_Name).c_str(), O_RDWR, 0);
  ASSERT_GE(earlier, 0);
  struct flock hold {};
  hold.l_type = F_RDLCK;
  hold.l_whence = SEEK_SET;
  ASSERT_EQ(fcntl(earlier, F_OFD_SETLK, &hold), 0);

  std::atomic<int> taken{-1};
  std::thread owner([&] {
    taken = pellwyn.ShareLock() ? 1 : 0;
    if (taken == 1) pellwyn.ReleaseShareLock();
  });
  WaitUntil([&] { return taken.load() >= 0; }, 5000);
  EXPECT_EQ(taken.load(), 1) << "the share lock waited for a lock that the earlier holder never gives back";
  close(earlier);  // (lets a waiting lock through, so that the test ends either way)
  owner.join();
  ASSERT_EQ(m_Log.Texts(llWarn).size(), 1u);
  EXPECT_NE(m_Log.Texts(llWarn)[0].find("earlier build"), std::string::npos) << m_Log.Texts(llWarn)[0];
}

}  // namespace
