// Shared segments and the map server record between the manager and a second process.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "interfaces/tagMapServerData.h"
#include "platform/debug_output.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "registry/AShareStructObj.h"
#include "registry/CSharedMem.h"
#include "registry/MapServerState.h"
#include "registry/RecordText.h"
#include "support/TestSupport.h"

namespace {

std::vector<std::string> g_DebugLines;
void CollectDebugLine(const std::string& line) { g_DebugLines.push_back(line); }

class DebugLines {
 public:
  DebugLines() {
    g_DebugLines.clear();
    platform::SetDebugSinkForTesting(&CollectDebugLine);
  }
  ~DebugLines() { platform::SetDebugSinkForTesting(nullptr); }
  const std::vector<std::string>& Lines() const { return g_DebugLines; }
};

// Starts the peer program on a segment; the test owns the returned handles.
platform::ProcessInformation StartPeer(const std::string& mode, const std::string& segment) {
  platform::ProcessInformation info;
  int errorCode = 0;
  EXPECT_TRUE(
      platform::StartProcess(std::string(REGISTRY_PEER) + " " + mode + " " + segment, "", false, &info, &errorCode))
      << errorCode;
  return info;
}

}  // namespace

TEST(CSharedMemTest, FirstOpenerGetsZerosLaterOpenersShareTheBytes) {
  DebugLines debug;
  std::string name = UniqueName("RegTestShared");
  bool existed = false;
  auto first = std::make_unique<CSharedMem>(name, 4096, existed);
  ASSERT_TRUE(first->Valid());
  EXPECT_FALSE(existed);
  EXPECT_EQ(first->Size(), 4096);
  EXPECT_EQ(first->Name(), name);
  auto* bytes = static_cast<unsigned char*>(first->View());
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(bytes[i], 0) << i;
  std::memcpy(bytes + 100, "written", 8);

  bool existed2 = false;
  CSharedMem second(name, 4096, existed2);
  ASSERT_TRUE(second.Valid());
  EXPECT_TRUE(existed2);
  EXPECT_STREQ(static_cast<char*>(second.View()) + 100, "written");  // untouched by the second opener
  static_cast<char*>(second.View())[0] = 'x';
  EXPECT_EQ(bytes[0], 'x');
  EXPECT_TRUE(debug.Lines().empty());

  // While one holder is left, the segment and its bytes stay.
  first.reset();
  {
    CSharedMem stillHeld(name, 4096, existed2);
    EXPECT_TRUE(existed2);
    EXPECT_STREQ(static_cast<char*>(stillHeld.View()) + 100, "written");
  }
}

TEST(CSharedMemTest, RecreatedAfterLastHolderStartsFromZeros) {
  std::string name = UniqueName("RegTestFresh");
  {
    AShareStructObj<tagMapServerData> share(name);
    ASSERT_NE(share.GetData(), nullptr);
    share.GetData()->PlayerCnt = 77;
  }
  bool existed = false;
  CSharedMem again(name, sizeof(tagMapServerData), existed);
  EXPECT_FALSE(existed);
  EXPECT_EQ(static_cast<tagMapServerData*>(again.View())->PlayerCnt, 0);
}

TEST(CSharedMemTest, FailuresLeaveNoViewAndWriteOneDebugLine) {
  DebugLines debug;
  std::string name = UniqueName("RegTestSmall");
  bool existed = false;
  CSharedMem small(name, 16, existed);
  ASSERT_TRUE(small.Valid());

  // An existing segment smaller than the record cannot be mapped at the record's size.
  AShareStructObj<tagMapServerData> tooBig(name);
  EXPECT_EQ(tooBig.GetData(), nullptr);
  EXPECT_FALSE(tooBig.SharedMem().Valid());
  EXPECT_EQ(tooBig.SharedMem().View(), nullptr);
  ASSERT_EQ(debug.Lines().size(), 1u);
  EXPECT_EQ(debug.Lines()[0],
            "CSharedMem::CSharedMem MapViewOfFile fail,name=" + name + ",errorno=" + std::to_string(EINVAL));

  // A name the system refuses: no segment at all, the creation line with the system's text.
  g_DebugLines.clear();
  std::string tooLong(300, 'n');
  bool existed2 = true;
  CSharedMem refused(tooLong, 64, existed2);
  EXPECT_FALSE(refused.Valid());
  EXPECT_FALSE(existed2);
  EXPECT_EQ(refused.View(), nullptr);
  ASSERT_EQ(debug.Lines().size(), 1u);
  EXPECT_EQ(debug.Lines()[0], "CSharedMem::CSharedMem CreateFileMapping fail,name=" + tooLong +
                                  ",errorno=" + std::to_string(ENAMETOOLONG) +
                                  " errorInfo=" + platform::SystemErrorText(ENAMETOOLONG));

  // A size of no bytes is refused the same way instead of mapping nothing.
  g_DebugLines.clear();
  std::string emptyName = UniqueName("RegTestEmpty");
  CSharedMem empty(emptyName, 0, existed2);
  EXPECT_FALSE(empty.Valid());
  EXPECT_EQ(empty.View(), nullptr);
  EXPECT_EQ(debug.Lines(), std::vector<std::string>{"CSharedMem::CSharedMem CreateFileMapping fail,name=" + emptyName +
                                                    ",errorno=" + std::to_string(EINVAL) +
                                                    " errorInfo=" + platform::SystemErrorText(EINVAL)});
}

TEST(MapServerRecordTest, TwoProcessesShareOneRecord) {
  std::string name = UniqueName("RegTestPeer") + "_1_Config";
  auto share = std::make_unique<AShareStructObj<tagMapServerData>>(name);
  tagMapServerData* record = share->GetData();
  ASSERT_NE(record, nullptr);
  record->DebugModule = 1;  // the manager's field, which the peer must leave alone

  platform::ProcessInformation peer = StartPeer("serve", name);
  ASSERT_NE(peer.ProcessHandle, 0);
  ASSERT_TRUE(WaitUntil([&] { return record->State == msRunning; }));
  EXPECT_EQ(record->PlayerCnt, 42);
  EXPECT_EQ(record->MaxPlayerCnt, 500);
  EXPECT_EQ(record->Hwnd, 0x1234u);
  EXPECT_FLOAT_EQ(record->StreamSaveCostTime, 1.5f);
  EXPECT_EQ(record->LogLevelCounts[6], 3);
  EXPECT_EQ(RecordText(record->MsgText), "peer " + std::to_string(peer.ProcessId));
  EXPECT_EQ(RecordText(record->LastErrorTime), "2026-12-09 10:11:12");
  EXPECT_EQ(record->DebugModule, 1);
  EXPECT_STREQ(MapServerStateText(record->State), "Running");

  // The manager lowers the heartbeat, the peer raises it again.
  record->HeartBeat = -3;
  EXPECT_TRUE(WaitUntil([&] { return record->HeartBeat == 10; }));

  record->CloseRequest = 1;
  int exitCode = -1;
  ASSERT_TRUE(platform::WaitForProcess(peer.ProcessHandle, 10000, &exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(record->State, msNotExist);
  platform::CloseProcessHandles(peer);

  // With the peer gone and our view closed, the record starts from zeros again.
  share.reset();
  AShareStructObj<tagMapServerData> fresh(name);
  ASSERT_NE(fresh.GetData(), nullptr);
  EXPECT_EQ(fresh.GetData()->PlayerCnt, 0);
  EXPECT_EQ(fresh.GetData()->DebugModule, 0);
}

TEST(MapServerRecordTest, KilledHolderStopsHoldingTheRecord) {
  std::string name = UniqueName("RegTestKilled") + "_2_Config";
  platform::ProcessInformation peer = StartPeer("serve", name);
  ASSERT_NE(peer.ProcessHandle, 0);
  {
    AShareStructObj<tagMapServerData> share(name);
    ASSERT_NE(share.GetData(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return share.GetData()->State == msRunning; }));
  }
  ASSERT_TRUE(platform::TerminateProcess(peer.ProcessHandle, -1));
  int exitCode = 0;
  ASSERT_TRUE(platform::WaitForProcess(peer.ProcessHandle, 10000, &exitCode));
  platform::CloseProcessHandles(peer);

  bool existed = false;
  CSharedMem fresh(name, sizeof(tagMapServerData), existed);
  EXPECT_FALSE(existed);
  EXPECT_EQ(static_cast<tagMapServerData*>(fresh.View())->State, 0);
}

TEST(MapServerRecordTest, HostileRecordIsReadWithinItsBuffers) {
  std::string name = UniqueName("RegTestHostile") + "_3_Config";
  AShareStructObj<tagMapServerData> share(name);
  tagMapServerData* record = share.GetData();
  ASSERT_NE(record, nullptr);
  platform::ProcessInformation peer = StartPeer("hostile", name);
  ASSERT_TRUE(WaitUntil([&] { return record->State == 99; }));

  EXPECT_EQ(RecordText(record->MsgText), std::string(1024, 'M'));
  EXPECT_EQ(RecordText(record->LastErrorTime), std::string(20, 'E'));
  EXPECT_EQ(RecordText(record->LastFatalTime), std::string(20, 'F'));
  EXPECT_EQ(RecordText(record->LastPyErrorTime), std::string(20, 'P'));
  EXPECT_STREQ(MapServerStateText(record->State), "unknown");
  EXPECT_EQ(record->PlayerCnt, -5);

  record->CloseRequest = 1;
  int exitCode = -1;
  ASSERT_TRUE(platform::WaitForProcess(peer.ProcessHandle, 10000, &exitCode));
  EXPECT_EQ(exitCode, 0);
  platform::CloseProcessHandles(peer);
}

TEST(MapServerRecordTest, StateTextsAndScriptTextCut) {
  EXPECT_STREQ(MapServerStateText(0), "Not Exist!");
  EXPECT_STREQ(MapServerStateText(1), "Connecting...");
  EXPECT_STREQ(MapServerStateText(2), "Initing...");
  EXPECT_STREQ(MapServerStateText(3), "Running");
  for (int state : {4, 5, 6, 7, -1, INT32_MIN}) EXPECT_STREQ(MapServerStateText(state), "unknown") << state;

  tagMapServerData record;
  std::memset(&record, 0x5A, sizeof record);
  WriteRecordText(record.ScriptCmd, std::string(2000, 's'));
  EXPECT_EQ(RecordText(record.ScriptCmd), std::string(1023, 's'));
  EXPECT_EQ(record.ScriptCmd[1023], 0);
  EXPECT_EQ(record.MsgText[0], 0x5A);  // the neighbour is untouched
  WriteRecordText(record.ScriptCmd, "import Tessmark");
  EXPECT_EQ(RecordText(record.ScriptCmd), "import Tessmark");
  EXPECT_EQ(record.ScriptCmd[1022], 0);  // the rest of the old text is gone
}
