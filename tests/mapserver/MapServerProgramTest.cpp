// The map server program, started as the manager starts it and watched through its record.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "MapServerTestSupport.h"
#include "platform/message_bus.h"

using mstest::Record;
using mstest::ServerProcess;
using mstest::UniqueKey;

namespace {

constexpr int kStartMs = 6000;
constexpr int32_t kHeartBeatRaised = 3;  // the value the map server keeps writing

std::string OneMapArgs(const std::string& key, const std::string& extra = "") {
  return key + " 7 1 " + std::string(VEMO_BIN_DIR) + "MapServerScripts MapManager" + (extra.empty() ? "" : " " + extra);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(MapServerProgram, ReachesRunningWithLiveWindowRaisedHeartbeatAndChangingFigures) {
  std::string key = UniqueKey("Run");
  Record record(key);
  ASSERT_TRUE(record.Ok());
  ServerProcess server;
  ASSERT_TRUE(server.Start(OneMapArgs(key)));

  ASSERT_TRUE(WaitUntil([&] { return record->State == msRunning; }, kStartMs));
  platform::WindowHandle hwnd = record->Hwnd;
  ASSERT_NE(hwnd, 0u);
  EXPECT_TRUE(platform::IsWindow(hwnd));
  EXPECT_EQ(platform::GetWindowProcessId(hwnd), server.Pid());
  EXPECT_EQ(record->ProcessId, server.Pid());

  // The manager lowers the heartbeat once a tick; the map server raises it again.
  record->HeartBeat = -5;
  EXPECT_TRUE(WaitUntil([&] { return record->HeartBeat == kHeartBeatRaised; }, 2500));
  // A state reset by the manager is written again by a live map server.
  record->State = msNotExist;
  EXPECT_TRUE(WaitUntil([&] { return record->State == msRunning; }, 2500));

  EXPECT_GT(record->MaxPlayerCnt, 0);
  EXPECT_GT(record->MaxItemCnt, 0);
  EXPECT_GT(record->XmlLoadCnt, 0u);
  int32_t items = record->ItemCnt;
  int32_t objects = record->GameObjCnt;
  EXPECT_TRUE(WaitUntil([&] { return record->ItemCnt != items || record->GameObjCnt != objects; }, 4000));
  EXPECT_GE(record->PlayerCnt, 0);
  EXPECT_LE(record->PlayerCnt, record->MaxPlayerCnt);
  EXPECT_LE(record->ItemCnt, record->MaxItemCnt);
  EXPECT_GT(record->FPS, 0);
  EXPECT_GE(record->AllocPlayerCnt, record->PlayerCnt);
  EXPECT_GE(record->AllocItemCnt, record->ItemCnt);
  EXPECT_TRUE(Contains(record.MsgText(), key));
  EXPECT_TRUE(Contains(record.MsgText(), "Running"));

  // Message 1027 and the window requests of the manager's menu.
  ASSERT_TRUE(platform::SendMessage(hwnd, platform::WM_USER + 3, 0, 0));
  EXPECT_TRUE(WaitUntil([&] { return Contains(record.MsgText(), "Announced by the manager at"); }, 2500));
  ASSERT_TRUE(platform::MinimizeWindow(hwnd));
  EXPECT_TRUE(WaitUntil([&] { return Contains(record.MsgText(), "Window: minimised"); }, 2500));
  // Showing keeps the size; restoring and bringing to the front make it a normal front window.
  ASSERT_TRUE(platform::ShowWindow(hwnd));
  EXPECT_TRUE(WaitUntil([&] { return Contains(server.LogText(key), "show; the window is now minimised"); }, 2500));
  ASSERT_TRUE(platform::SendMessage(hwnd, platform::WM_SYSCOMMAND, platform::SC_RESTORE, 0));
  ASSERT_TRUE(platform::RestoreWindow(hwnd));
  ASSERT_TRUE(platform::SetForegroundWindow(hwnd));
  EXPECT_TRUE(WaitUntil([&] { return Contains(record.MsgText(), "Window: normal, in front"); }, 2500));
  std::string log = server.LogText(key);
  EXPECT_TRUE(Contains(log, "message 1027"));
  EXPECT_TRUE(Contains(log, "system command restore"));
}

TEST(MapServerProgram, CloseRequestRunsTheSaveScriptSavesAndEnds) {
  std::string key = UniqueKey("Close");
  std::string saveDir = mstest::MapServerDir() + "SaveData/";
  std::filesystem::remove(saveDir + key + ".bak");
  std::filesystem::remove(saveDir + key + ".sav");
  Record record(key);
  ASSERT_TRUE(record.Ok());
  ServerProcess server;
  ASSERT_TRUE(server.Start(OneMapArgs(key)));
  ASSERT_TRUE(WaitUntil([&] { return record->State == msRunning; }, kStartMs));

  // What the manager's close of one map writes: the backup script, then the request.
  record.WriteScript("import Tessmark\nTessmark.RunCMD('SavePlayerBackupFile')");
  record->CloseRequest = 1;
  int exitCode = -1;
  ASSERT_TRUE(server.WaitEnd(8000, &exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(record->CloseRequest, 0);
  EXPECT_EQ(record->State, msNotExist);
  EXPECT_EQ(record->ScriptCmd[0], '\0');
  EXPECT_TRUE(Contains(ReadFile(saveDir + key + ".bak"), "key=" + key));
  EXPECT_TRUE(Contains(ReadFile(saveDir + key + ".sav"), "players="));
  std::string log = server.LogText(key);
  EXPECT_TRUE(Contains(log, "saved player backup"));
  EXPECT_TRUE(Contains(log, "closed (CloseRequest)"));
  std::filesystem::remove(saveDir + key + ".bak");
  std::filesystem::remove(saveDir + key + ".sav");
}

TEST(MapServerProgram, SigtermSavesAndEndsAndTheSecondProgramNameWorks) {
  std::string key = UniqueKey("Term");
  Record record(key);
  ASSERT_TRUE(record.Ok());
  ServerProcess server;
  ASSERT_TRUE(server.Start(OneMapArgs(key), "VemoMapServerDM.exe"));
  ASSERT_TRUE(WaitUntil([&] { return record->State == msRunning; }, kStartMs));
  ASSERT_TRUE(server.Terminate());
  int exitCode = -1;
  ASSERT_TRUE(server.WaitEnd(5000, &exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(record->State, msNotExist);
  std::string log = server.LogText(key);
  EXPECT_TRUE(Contains(log, "VemoMapServerDM started"));
  EXPECT_TRUE(Contains(log, "closed (signal)"));
  std::filesystem::remove(mstest::MapServerDir() + "SaveData/" + key + ".sav");
}

TEST(MapServerProgram, ResetLogRequestZeroesTheCountersAndIsCleared) {
  std::string key = UniqueKey("Reset");
  Record record(key);
  ASSERT_TRUE(record.Ok());
  ServerProcess server;
  ASSERT_TRUE(server.Start(OneMapArgs(key)));
  ASSERT_TRUE(WaitUntil([&] { return record->State == msRunning; }, kStartMs));
  // Start-up always logs a warning and a design line.
  ASSERT_TRUE(WaitUntil([&] { return record->LogLevelCounts[2] > 0 && record->LogLevelCounts[3] > 0; }, 2500));

  record->ResetLogRequest = 1;
  ASSERT_TRUE(WaitUntil([&] { return record->ResetLogRequest == 0; }, 2000));
  EXPECT_EQ(record->LogLevelCounts[2], 0);  // Warn
  EXPECT_EQ(record->LogLevelCounts[3], 0);  // Design
  EXPECT_LE(record.CountSum(), 1);
  EXPECT_TRUE(Contains(server.LogText(key), "ResetLogRequest: log counters reset"));
}

TEST(MapServerProgram, ScriptCmdIsClearedAndRunWithTheScriptPathAndErrorsAreCounted) {
  std::string key = UniqueKey("Script");
  TempDir scripts("vemo-mapserver");
  scripts.Write("mshelper.py", "def answer():\n    return 6 * 7\n");
  const std::string dir = scripts.Path();
  std::string output = dir + "result.txt";

  Record record(key);
  ASSERT_TRUE(record.Ok());
  ServerProcess server;
  ASSERT_TRUE(server.Start(key + " 7 0 " + dir + " MapManager"));
  ASSERT_TRUE(WaitUntil([&] { return record->State == msRunning; }, kStartMs));

  record.WriteScript("import mshelper\nprint('answer is', mshelper.answer())\nopen(r'" + output +
                     "', 'w').write('ran %d' % mshelper.answer())\n");
  EXPECT_TRUE(WaitUntil([&] { return record->ScriptCmd[0] == '\0'; }, 1000));
  EXPECT_TRUE(WaitUntil([&] { return Contains(ReadFile(output), "ran 42"); }, 8000));
  EXPECT_TRUE(WaitUntil([&] { return Contains(server.LogText(key), "script: answer is 42"); }, 3000));

  // A script that raises is a script error: counted, timed, and its traceback logged.
  uint8_t pyErrors = record->LogLevelCounts[4];
  record.WriteScript("raise ValueError('broken on purpose')");
  EXPECT_TRUE(WaitUntil([&] { return record->LogLevelCounts[4] > pyErrors; }, 8000));
  std::string time(record.Raw()->LastPyErrorTime, strnlen(record.Raw()->LastPyErrorTime, 20));
  EXPECT_EQ(time.size(), 19u);
  EXPECT_TRUE(Contains(server.LogText(key), "ValueError: broken on purpose"));
  EXPECT_TRUE(server.Alive());
}

TEST(MapServerProgram, ScriptPastItsTimeLimitIsStoppedAndTheServerGoesOn) {
  std::string key = UniqueKey("Slow");
  Record record(key);
  ASSERT_TRUE(record.Ok());
  setenv("VEMO_MS_SCRIPT_TIMEOUT", "1", 1);
  ServerProcess server;
  bool started = server.Start(OneMapArgs(key));
  unsetenv("VEMO_MS_SCRIPT_TIMEOUT");
  ASSERT_TRUE(started);
  ASSERT_TRUE(WaitUntil([&] { return record->State == msRunning; }, kStartMs));
  record.WriteScript("import time\ntime.sleep(60)");
  EXPECT_TRUE(WaitUntil([&] { return Contains(server.LogText(key), "ScriptCmd stopped after 1 s"); }, 6000));
  record->HeartBeat = -5;
  EXPECT_TRUE(WaitUntil([&] { return record->HeartBeat == kHeartBeatRaised; }, 2500));
}

TEST(MapServerProgram, CrashSwitchEndsTheProcessBySignal) {
  std::string key = UniqueKey("Crash");
  Record record(key);
  ASSERT_TRUE(record.Ok());
  ServerProcess server;
  ASSERT_TRUE(server.Start(OneMapArgs(key, "--fault=" + key + ":crash@0")));
  int exitCode = 0;
  ASSERT_TRUE(server.WaitEnd(kStartMs + 2000, &exitCode));
  EXPECT_EQ(exitCode, 128 + 11);
  EXPECT_TRUE(Contains(server.LogText(key), "crash switch"));
}

TEST(MapServerProgram, HangSwitchStopsTheHeartbeatAndTheAnswersButNotTheProcess) {
  std::string key = UniqueKey("Hang");
  Record record(key);
  ASSERT_TRUE(record.Ok());
  ServerProcess server;
  ASSERT_TRUE(server.Start(OneMapArgs(key, "--fault=" + key + ":hang@0")));
  ASSERT_TRUE(WaitUntil([&] { return record->State == msRunning; }, kStartMs));
  ASSERT_TRUE(WaitUntil([&] { return Contains(server.LogText(key), "hang switch"); }, 2000));
  record->HeartBeat = -5;
  record->ResetLogRequest = 1;
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(record->HeartBeat, -5);
  EXPECT_EQ(record->ResetLogRequest, 1);
  EXPECT_TRUE(server.Alive());
}

TEST(MapServerProgram, IgnoreCloseSwitchKeepsRunningAfterCloseRequest) {
  std::string key = UniqueKey("Ignore");
  Record record(key);
  ASSERT_TRUE(record.Ok());
  ServerProcess server;
  ASSERT_TRUE(server.Start(OneMapArgs(key, "--fault=" + key + ":ignoreclose")));
  ASSERT_TRUE(WaitUntil([&] { return record->State == msRunning; }, kStartMs));
  record->CloseRequest = 1;
  ASSERT_TRUE(WaitUntil([&] { return Contains(server.LogText(key), "CloseRequest ignored"); }, 2000));
  record->HeartBeat = -5;
  EXPECT_TRUE(WaitUntil([&] { return record->HeartBeat == kHeartBeatRaised; }, 2500));
  EXPECT_TRUE(server.Alive());
  EXPECT_EQ(record->State, msRunning);
}

TEST(MapServerProgram, UnterminatedSwitchFillsTheTextBuffersWithoutAZeroByte) {
  std::string key = UniqueKey("Text");
  Record record(key);
  ASSERT_TRUE(record.Ok());
  ServerProcess server;
  ASSERT_TRUE(server.Start(OneMapArgs(key, "--fault=" + key + ":unterminated@0")));
  ASSERT_TRUE(WaitUntil([&] { return record->State == msRunning; }, kStartMs));
  tagMapServerData* raw = record.Raw();
  auto full = [](const char* buffer, std::size_t size) { return strnlen(buffer, size) == size; };
  EXPECT_TRUE(WaitUntil(
      [&] {
        return full(raw->MsgText, sizeof raw->MsgText) && full(raw->LastErrorTime, 20) &&
               full(raw->LastFatalTime, 20) && full(raw->LastPyErrorTime, 20);
      },
      3000));
  // The text next to the buffers is untouched.
  EXPECT_EQ(raw->Reserved, 0);
  EXPECT_TRUE(server.Alive());
}

TEST(MapServerProgram, AllModeServesEveryMapOfTheListWithOneWindowAndStateSwitches) {
  std::string keys[3] = {UniqueKey("AllA"), UniqueKey("AllB"), UniqueKey("AllC")};
  std::string tooLong = "X" + std::string(300, 'y') + "_1";  // a record that cannot be created
  Record a(keys[0]), b(keys[1]), c(keys[2]);
  ASSERT_TRUE(a.Ok() && b.Ok() && c.Ok());
  // A close request left by an earlier server of the third map must not end this one.
  c->CloseRequest = 1;

  std::string faults = keys[0] + ":state4@0," + keys[1] + ":state5@0, " + keys[2] + ":state6@1,bad";
  setenv("VEMO_MS_FAULTS", faults.c_str(), 1);
  ServerProcess server;
  // As the manager writes it: each map followed by one blank.
  bool started = server.Start("ALL 3 0 " + std::string(VEMO_BIN_DIR) + "MapServerScripts MapManager 4 " + keys[0] +
                              " " + tooLong + " " + keys[1] + " " + keys[2] + " " + keys[0] + " ");
  unsetenv("VEMO_MS_FAULTS");
  ASSERT_TRUE(started);

  EXPECT_TRUE(WaitUntil([&] { return a->State == msPythonError && b->State == msCppError; }, kStartMs));
  EXPECT_TRUE(WaitUntil([&] { return c->State == msDisconnected; }, kStartMs));
  EXPECT_NE(a->Hwnd, 0u);
  EXPECT_EQ(a->Hwnd, b->Hwnd);
  EXPECT_EQ(b->Hwnd, c->Hwnd);
  EXPECT_EQ(c->ProcessId, server.Pid());
  EXPECT_EQ(c->CloseRequest, 0);
  a->HeartBeat = -5;
  b->HeartBeat = -5;
  c->HeartBeat = -5;
  EXPECT_TRUE(WaitUntil(
      [&] {
        return a->HeartBeat == kHeartBeatRaised && b->HeartBeat == kHeartBeatRaised && c->HeartBeat == kHeartBeatRaised;
      },
      2500));

  // One map closes by itself; the process ends when the last one has closed.
  a->CloseRequest = 1;
  ASSERT_TRUE(WaitUntil([&] { return a->State == msNotExist; }, 3000));
  EXPECT_TRUE(server.Alive());
  b->HeartBeat = -5;
  EXPECT_TRUE(WaitUntil([&] { return b->HeartBeat == kHeartBeatRaised; }, 2500));
  b->CloseRequest = 1;
  c->CloseRequest = 1;
  int exitCode = -1;
  ASSERT_TRUE(server.WaitEnd(5000, &exitCode));
  EXPECT_EQ(exitCode, 0);

  std::string log = server.LogText("ALL_4");
  EXPECT_TRUE(Contains(log, "map " + tooLong + " is not served"));
  EXPECT_TRUE(Contains(log, "map " + keys[0] + " is listed twice"));
  EXPECT_TRUE(Contains(log, "VEMO_MS_FAULTS: fault \"bad\""));
  EXPECT_TRUE(Contains(log, "CloseRequest left from an earlier server is cleared"));
  for (const std::string& key : keys) std::filesystem::remove(mstest::MapServerDir() + "SaveData/" + key + ".sav");
}

TEST(MapServerProgram, ASecondServerForTheSameMapLeavesItAlone) {
  std::string key = UniqueKey("Twice");
  Record record(key);
  ASSERT_TRUE(record.Ok());
  ServerProcess first;
  ASSERT_TRUE(first.Start(OneMapArgs(key)));
  ASSERT_TRUE(WaitUntil([&] { return record->State == msRunning; }, kStartMs));
  platform::WindowHandle hwnd = record->Hwnd;

  ServerProcess second;
  ASSERT_TRUE(second.Start(OneMapArgs(key)));
  int exitCode = -1;
  ASSERT_TRUE(second.WaitEnd(5000, &exitCode));
  EXPECT_EQ(exitCode, 1);
  EXPECT_TRUE(Contains(second.LogText(key), "is served by process " + std::to_string(first.Pid())));
  EXPECT_EQ(record->Hwnd, hwnd);
  EXPECT_TRUE(first.Alive());
}

TEST(MapServerProgram, MalformedCommandLinesEndWithExitCodeTwo) {
  const std::string cases[] = {
      "",
      "Map_1 5 0 /scripts",
      "Map_1 five 0 /scripts MapManager",
      "Map_1 5 2 /scripts MapManager",
      "Map_1 5 0 /scripts MapManager extra",
      "Map_1 5 0 /scripts MapManager --fault=Map_1:explode",
      "Map_1 5 0 /scripts MapManager --verbose",
      "ALL 5 0 /scripts MapManager",
      "ALL 5 0 /scripts MapManager 3",
      "ALL 5 0 /scripts MapManager x Map_1",
  };
  for (const std::string& arguments : cases) {
    ServerProcess server;
    ASSERT_TRUE(server.Start(arguments)) << arguments;
    int exitCode = -1;
    ASSERT_TRUE(server.WaitEnd(5000, &exitCode)) << arguments;
    EXPECT_EQ(exitCode, 2) << arguments;
  }
}
