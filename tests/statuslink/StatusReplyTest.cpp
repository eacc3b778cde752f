// The replies the manager builds itself, byte for byte: the base information reply with
// the window's handler and without it, and the common command "GetErrorLog" in every case
// of the file fetch, including the names and files it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <utility>

#include "StatusLinkTestSupport.h"
#include "common/Utils.h"
#include "platform/clock.h"
#include "platform/shared_memory.h"
#include "statuslink/BaseInfoReply.h"
#include "statuslink/CSSLogicProcess.h"
#include "statuslink/CommonCmd.h"
#include "statuslink/StatusLinkControl.h"
#include "support/RecordingLog.h"

using namespace statuslink_test;
using namespace statuswire;

namespace {

class ReplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallCore(&m_Core);
    GetSSLogicProcess()->SetServerInfo("MapServer", 6, 2);
    m_Log.m_LogPath = m_Dir.Path();
    StatusLinkControl::Settings settings;
    settings.Maps = &m_Maps.maps;
    m_Control = std::make_unique<StatusLinkControl>(settings);
  }
  void TearDown() override {
    m_Control.reset();
    if (CSSLogicProcess* link = PeekSSLogicProcess()) link->ReleaseLink();
    InstallCore(nullptr);
  }

  // Hands one message to the window's handler; the body of the one reply it sent, or "".
  std::string Answer(const std::string& head, const std::string& body, bool* answered = nullptr) {
    m_Core.ClearSent();
    MMORPG::MMORPGPacket_Stack packet;
    packet.SetHead(head.data(), 9);
    packet.ReadData(body.data(), static_cast<int>(body.size()));
    const bool result = StatusLinkControl::OnStatusPack(m_Control.get(), &packet);
    if (answered != nullptr) *answered = result;
    const auto sent = m_Core.Sent();
    EXPECT_LE(sent.size(), 1u);
    if (sent.empty()) return std::string();
    m_LastHead = sent[0].head;
    return sent[0].body;
  }

  RecordingLog m_Log;
  FakeTiravo m_Core;
  TempDir m_Dir;
  TestMaps m_Maps{UniqueServer("Reply")};
  std::unique_ptr<StatusLinkControl> m_Control;
  std::string m_LastHead;
};

// ---------------------------------------------------------------------------------------
// Base information

TEST_F(ReplyTest, NoMapsGiveTheSevenByteReplyWithTheRequestsEchoTagOnly) {
  bool answered = false;
  const std::string body = Answer(RequestHead(0xBEEF, 0x11223344, 7, 2, 3), BaseInfoRequest() + "ignored", &answered);
  EXPECT_TRUE(answered);
  EXPECT_EQ(Hex(body), "05 01 00 00 00 00 00");
  EXPECT_EQ(Hex(m_LastHead), "00 00 00 00 EF BE 00 0D 0D");
}

TEST_F(ReplyTest, ARunningMapGivesElevenNumericAndTwoTextItemsInOrder) {
  m_Maps.Add(3, "Three");
  m_Maps.Load();
  tagMapServerData& record = m_Maps.Record(0);
  record.State = msRunning;
  record.GameObjCnt = 100;
  record.PlayerCnt = -5;  // a signed count keeps its sign
  record.ItemCnt = 7;
  record.FPS = 25;
  record.ProcessId = 0xFFFFFFF0u;  // an unsigned figure is widened with zeros
  record.FBCnt = 2;

  const std::string body = Answer(RequestHead(9), BaseInfoRequest());
  // Item 56 of map 3 on line 2 of server type 6: 56 + 3*512 + 2*2097152 + 6*134217728.
  EXPECT_EQ(MakeInfoKey(56, 3, 2, 6), 809502264u);
  EXPECT_EQ(Hex(body.substr(0, 9)), "05 01 00 0B 00 38 06 40 30");

  auto key = [](uint32_t code) { return MakeInfoKey(code, 3, 2, 6); };
  std::string expected = Bytes({5, 1, 0, 11, 0});
  const std::pair<uint32_t, uint64_t> numerics[] = {{key(56), 0},
                                                    {key(57), 0},
                                                    {key(58), 0},
                                                    {key(122), 100},
                                                    {key(64), 0xFFFFFFFFFFFFFFFBull},
                                                    {key(123), 7},
                                                    {key(124), 25},
                                                    {key(125), 0},
                                                    {key(126), 0xFFFFFFF0ull},
                                                    {key(127), 2},
                                                    {MakeInfoKey(150, 0, 2, 11), 1}};
  for (const auto& [k, v] : numerics) {
    PutU32(expected, k);
    PutU64(expected, v);
  }
  PutU16(expected, 2);
  const std::string name = m_Maps.Server() + "(Three)";
  PutU32(expected, key(120));
  PutU16(expected, static_cast<uint16_t>(name.size()));
  expected += name;
  PutU32(expected, key(121));
  PutU16(expected, 7);
  expected += "Running";
  EXPECT_EQ(Hex(body), Hex(expected));
}

TEST_F(ReplyTest, ErrorStatesPutTheirReportFirstReadWithinTheFieldsAndEveryMapCarriesItem150) {
  GetSSLogicProcess()->SetLineId(70);  // cut to 6 inside keys
  m_Maps.Add(10, "Crashed");
  m_Maps.Add(11, "Scripted");
  m_Maps.Add(12, "Gone");
  m_Maps.Load();
  // A map server that fills its time fields to the last byte, with no terminator.
  tagMapServerData& crashed = m_Maps.Record(0);
  crashed.State = msCppError;
  std::memset(crashed.LastErrorTime, 'E', sizeof crashed.LastErrorTime);
  std::strcpy(crashed.LastFatalTime, "2024-01-01 10:00:00");
  tagMapServerData& scripted = m_Maps.Record(1);
  scripted.State = msPythonError;
  std::strcpy(scripted.LastPyErrorTime, "12:00:00");
  std::memset(scripted.MsgText, 'M', sizeof scripted.MsgText);
  scripted.ResetLogRequest = 0x41414141;  // the bytes right after MsgText must not be read
  m_Maps.Record(2).State = msDisconnected;

  const BaseInfo reply = DecodeBaseInfo(Answer(RequestHead(1), BaseInfoRequest()));
  ASSERT_TRUE(reply.wellFormed);
  std::vector<uint32_t> textCodes;
  for (const Item& item : reply.texts) textCodes.push_back(item.Code());
  EXPECT_EQ(textCodes, (std::vector<uint32_t>{60, 120, 121, 59, 120, 121, 120, 121}));
  EXPECT_EQ(reply.texts[0].key, MakeInfoKey(60, 10, 6, 6));
  EXPECT_EQ(reply.texts[0].text,
            "C++ Error; LastErrorTime:" + std::string(20, 'E') + ";LastFatalTime:2024-01-01 10:00:00");
  EXPECT_EQ(reply.texts[3].text, "Python Error; LastPyErrorTime:12:00:00; " + std::string(1024, 'M'));
  EXPECT_EQ(reply.texts[2].text, "unknown");
  EXPECT_EQ(reply.texts[7].text, "unknown");

  ASSERT_EQ(reply.numerics.size(), 33u);
  int mapCounts = 0;
  for (const Item& item : reply.numerics) {
    if (item.Code() != 150) continue;
    ++mapCounts;
    EXPECT_EQ(item.key, MakeInfoKey(150, 0, 6, 11));
    EXPECT_EQ(item.value, 3u);
  }
  EXPECT_EQ(mapCounts, 3);
}

TEST_F(ReplyTest, ALiveMapServersMemoryIsTheRefreshTicksSampleOfItsProcess) {
  m_Maps.Add(5, "Live");
  m_Maps.Load();
  platform::ProcessInformation process;
  int error = 0;
  ASSERT_TRUE(platform::StartProcess("/bin/sleep 30", "", false, &process, &error)) << error;
  m_Maps.maps.GetMapInfo(0)->SetProcessInfo(process);
  m_Maps.Record(0).ProcessId = process.ProcessId;
  m_Maps.maps.GetMapInfo(0)->SampleMemory();  // the refresh tick's sample

  const BaseInfo reply = DecodeBaseInfo(Answer(RequestHead(1), BaseInfoRequest()));
  ASSERT_TRUE(reply.wellFormed);
  ASSERT_EQ(reply.numerics.size(), 11u);
  EXPECT_EQ(reply.numerics[1].Code(), 57u);
  EXPECT_GT(reply.numerics[1].value, 0u) << "working set";
  EXPECT_EQ(reply.numerics[8].value, process.ProcessId);
  platform::TerminateProcess(process.ProcessHandle, -1);
}

TEST_F(ReplyTest, WithoutAHandlerOnlyTheBaseInfoRequestIsAnsweredWithTheManagersTwoFigures) {
  ResetSelfUsageForTesting();
  CProcessStatusRequest processor(GetSSLogicProcess());
  auto process = [&](const std::string& head, const std::string& body) {
    m_Core.ClearSent();
    MMORPG::MMORPGPacket_Stack packet;
    packet.SetHead(head.data(), 9);
    packet.ReadData(body.data(), static_cast<int>(body.size()));
    return processor.Process(&packet);
  };
  EXPECT_TRUE(processor.Process(nullptr));
  EXPECT_FALSE(process(RequestHead(1), CommonCmdBody("GetErrorLog", "a.log")));
  EXPECT_TRUE(m_Core.Sent().empty());

  ASSERT_TRUE(process(RequestHead(0xBEEF, 0x11223344, 7, 2, 3), BaseInfoRequest()));
  auto sent = m_Core.Sent();
  ASSERT_EQ(sent.size(), 1u);
  // The request's whole head with the link's server types.
  EXPECT_EQ(Hex(sent[0].head), "44 33 22 11 EF BE 07 0D 0D");
  std::string expected = Bytes({5, 1, 0, 2, 0});
  PutU32(expected, MakeInfoKey(56, 0, 2, 6));
  PutU64(expected, 0);
  PutU32(expected, MakeInfoKey(57, 0, 2, 6));
  PutU64(expected, 0);
  PutU16(expected, 0);
  EXPECT_EQ(Hex(sent[0].body), Hex(expected));

  // The figures come from the second sample, 1500 ms or more after the first.
  FakeClock clock;
  clock.now = 1000;
  RefreshSelfUsage();
  clock.now = 2499;
  RefreshSelfUsage();
  EXPECT_EQ(SelfPagefileUsage(), 0u);
  clock.now = 2500;
  RefreshSelfUsage();
  EXPECT_GT(SelfPagefileUsage(), 0u);

  // A request function stands in for the handler until it is taken away again.
  processor.SetRequestFunc([](MMORPG::MMORPGPacket* packet) { return packet->GetData()[0] == 9; });
  EXPECT_TRUE(process(RequestHead(1), Bytes({9, 9})));
  processor.SetRequestFunc(nullptr);
  EXPECT_FALSE(process(RequestHead(1), Bytes({9, 9})));
  EXPECT_TRUE(process(RequestHead(1), BaseInfoRequest()));
  ResetSelfUsageForTesting();
}

// ---------------------------------------------------------------------------------------
// GetErrorLog

// The reply body with no result: class 1, subtype 5, the name, D = 0, L and the parameter.
std::string EmptyResultReply(const std::string& name, const std::string& param) {
  std::string body = Bytes({1, 5, 0});
  std::string padded = name;
  padded.resize(32, '\0');
  body += padded;
  PutU32(body, 0);
  PutU8(body, static_cast<uint8_t>(param.size()));
  return body + param;
}

std::string Inflate(const std::string& stream, std::size_t size) {
  std::string out(size, '\0');
  uLongf length = static_cast<uLongf>(size);
  if (uncompress(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(stream.data()),
                 static_cast<uLong>(stream.size())) != Z_OK)
    return "<not one zlib stream>";
  out.resize(length);
  return out;
}

std::string LogText(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i)
    text += "[Error] 2024-05-01 10:00:" + std::to_string(i % 60) + " map " + std::to_string(i) + " lost\n";
  return text;
}

TEST_F(ReplyTest, GetErrorLogSendsTheFileAsOneZlibStreamAtLevel9) {
  const std::string content = LogText(3000);
  m_Dir.Write("a.log", content);
  bool answered = false;
  const std::string body = Answer(RequestHead(0x1234), CommonCmdBody("GetErrorLog", "a.log"), &answered);
  EXPECT_TRUE(answered);
  EXPECT_EQ(Hex(m_LastHead), "00 00 00 00 34 12 00 0D 0D");
  const CommonReply reply = DecodeCommonReply(body);
  ASSERT_TRUE(reply.wellFormed);
  EXPECT_EQ(reply.name, "GetErrorLog");
  EXPECT_EQ(reply.param, "a.log");
  EXPECT_EQ(Hex(reply.result.substr(0, 2)), "78 DA");  // zlib head of the best compression
  EXPECT_EQ(Inflate(reply.result, content.size()), content);
}

TEST_F(ReplyTest, GetErrorLogAnswersWithNoDataForMissingEmptyAndRefusedFiles) {
  TempDir outside;
  outside.Write("secret.log", "not for the network");
  m_Dir.Write("empty.log", "");
  m_Dir.Write("locked.log", "locked");
  chmod((m_Dir.Path() + "locked.log").c_str(), 0);
  mkfifo((m_Dir.Path() + "fifo.log").c_str(), 0600);
  std::filesystem::create_symlink(outside.Path() + "secret.log", m_Dir.Path() + "link.log");
  std::filesystem::create_directory(m_Dir.Path() + "dir.log");
  std::filesystem::create_hard_link(outside.Path() + "secret.log", m_Dir.Path() + "hard.log");
  const std::string dir = m_Dir.Path();

  struct Case {
    std::string param;
    int level;
    std::string line;
  };
  std::vector<Case> cases = {
      {"missing.log", llDebug, "Can't find file:" + dir + "missing.log"},
      {"empty.log", llDebug, "file size is zero : " + dir + "empty.log"},
      {"fifo.log", llWarn,
       "TVemoMapServerManagerMain::OnSVCCmdGetErrorLog refused " + dir + "fifo.log: not a regular file"},
      {"link.log", llWarn,
       "TVemoMapServerManagerMain::OnSVCCmdGetErrorLog refused " + dir + "link.log: not a regular file"},
      {"dir.log", llWarn,
       "TVemoMapServerManagerMain::OnSVCCmdGetErrorLog refused " + dir + "dir.log: not a regular file"},
      {"hard.log", llWarn,
       "TVemoMapServerManagerMain::OnSVCCmdGetErrorLog refused " + dir + "hard.log: it has more than one hard link"},
      // A name from the network never starts a log line of its own.
      {"x.log\n[Fatal] forged\r\x01", llDebug, "Can't find file:" + dir + "x.log\\n[Fatal] forged\\r\\x01"},
      {"..\n[Fatal] forged", llWarn,
       "TVemoMapServerManagerMain::OnSVCCmdGetErrorLog refused \"..\\n[Fatal] forged\": not a file name of the "
       "error-log directory"},
      {"../" + outside.Path().substr(outside.Path().rfind('/', outside.Path().size() - 2) + 1) + "secret.log", llWarn,
       ""},
      {outside.Path() + "secret.log", llWarn, ""},
      {"..", llWarn, ""},
      {"sub\\a.log", llWarn, ""},
      {"", llWarn, ""},
  };
  if (geteuid() != 0)  // root reads the file whatever its mode
    cases.push_back({"locked.log", llWarn, "Create file failed: errno = 13, file = " + dir + "locked.log"});
  for (Case& c : cases) {
    if (c.line.empty())
      c.line = "TVemoMapServerManagerMain::OnSVCCmdGetErrorLog refused \"" + c.param +
               "\": not a file name of the error-log directory";
    m_Log.Clear();
    bool answered = false;
    const std::string body = Answer(RequestHead(5), CommonCmdBody("GetErrorLog", c.param), &answered);
    EXPECT_TRUE(answered) << c.param;
    EXPECT_EQ(Hex(body), Hex(EmptyResultReply("GetErrorLog", c.param))) << c.param;
    const auto lines = m_Log.Lines();
    ASSERT_EQ(lines.size(), 1u) << c.param;
    EXPECT_EQ(lines[0].level, c.level) << c.param;
    EXPECT_EQ(lines[0].text, c.line);
  }
}

// True while this process has a view of `path` mapped: the file's size was taken by then.
bool HasMapped(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.size() > path.size() && line.compare(line.size() - path.size() - 1, std::string::npos, " " + path) == 0)
      return true;
  return false;
}

// The number of bytes a zlib stream inflates to, and whether they are all zero.
std::pair<uint64_t, bool> InflatedZeros(const std::string& stream) {
  z_stream z{};
  inflateInit(&z);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  std::string out(1 << 20, '\0');
  uint64_t total = 0;
  bool zeros = true;
  int status = Z_OK;
  while (status == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    status = inflate(&z, Z_NO_FLUSH);
    const std::size_t got = out.size() - z.avail_out;
    zeros = zeros && out.find_first_not_of('\0') >= got;
    total += got;
  }
  inflateEnd(&z);
  return {status == Z_STREAM_END ? total : 0, zeros};
}

// A tick count the test moves while the request thread reads it.
class MovingClock : public platform::Clock {
 public:
  explicit MovingClock(uint32_t start) : now(start) { platform::SetClockForTesting(this); }
  ~MovingClock() override { platform::SetClockForTesting(nullptr); }
  uint32_t TickCount() override { return now.load(); }
  std::atomic<uint32_t> now;
};

// The request thread runs with the window's handler: what it sent, by position.
class RunningLinkTest : public ReplyTest {
 protected:
  void SetUp() override {
    ReplyTest::SetUp();
    m_Clock = std::make_unique<MovingClock>(platform::GetTickCount());  // about when the link was made
    CSSLogicProcess* link = GetSSLogicProcess();
    link->SetRequestHandler(&StatusLinkControl::OnStatusPack, m_Control.get());
    link->Start(false);
    link->Resume();
  }
  void TearDown() override {
    GetSSLogicProcess()->Stop();
    ReplyTest::TearDown();
    m_Clock.reset();
  }
  // The position of the first message sent with the echo tag, or -1.
  int SentAt(int echo) {
    const auto sent = m_Core.Sent();
    for (std::size_t i = 0; i < sent.size(); ++i)
      if (sent[i].head == RequestHead(static_cast<uint16_t>(echo))) return static_cast<int>(i);
    return -1;
  }
  std::string BodyOf(int echo) { return m_Core.Sent()[static_cast<std::size_t>(SentAt(echo))].body; }
  int Heartbeats() {
    int n = 0;
    for (const auto& m : m_Core.Sent()) n += m.body == Bytes({0x01, 0x04, 0xB3}) ? 1 : 0;
    return n;
  }

  std::unique_ptr<MovingClock> m_Clock;
};

// A log of 256 MiB is compressed while the request thread goes on: a base information
// request asked after it is answered first, and the heartbeat goes out when due. (Seconds of
// level-9 compression in every pass; a larger log proves nothing more and only takes longer.)
TEST_F(RunningLinkTest, GetErrorLogOfALargeLogKeepsHeartbeatsAndFiguresGoing) {
  const std::string big = m_Dir.Write("big.log", "");
  ASSERT_EQ(truncate(big.c_str(), 256ll << 20), 0);
  m_Core.Receive(RequestHead(1), CommonCmdBody("GetErrorLog", "big.log"));
  m_Core.Receive(RequestHead(2), BaseInfoRequest());
  ASSERT_TRUE(WaitUntil([&] { return SentAt(2) >= 0; }));
  const int beats = Heartbeats();
  m_Clock->now += CSSLogicProcess::kHeartbeatIntervalMs;
  ASSERT_TRUE(WaitUntil([&] { return Heartbeats() == beats + 1; }));
  const int heartbeatAt = static_cast<int>(m_Core.Sent().size()) - 1;
  ASSERT_TRUE(WaitUntil([&] { return SentAt(1) >= 0; }, 300000));
  EXPECT_LT(SentAt(2), SentAt(1));
  EXPECT_LT(heartbeatAt, SentAt(1));
  const CommonReply reply = DecodeCommonReply(BodyOf(1));
  ASSERT_TRUE(reply.wellFormed);
  EXPECT_EQ(InflatedZeros(reply.result), std::make_pair(uint64_t{256} << 20, true));
}

// A log cut to one page once the manager has mapped it: the rest of the view would read as
// zeros, so the request fails instead of answering with them, reported once.
TEST_F(RunningLinkTest, GetErrorLogOfALogTruncatedWhileReadFailsWithOneLine) {
#if defined(VEMO_UNDER_TSAN) || defined(VEMO_UNDER_ASAN)
  GTEST_SKIP() << "the sanitizer keeps SIGBUS to itself, so the view's guard is not installed";
#endif
  const std::string cut = m_Dir.Write("cut.log", "");
  ASSERT_EQ(truncate(cut.c_str(), 256ll << 20), 0);
  const uint64_t faultsBefore = platform::SharedMemoryFaultCount();
  m_Core.Receive(RequestHead(3), CommonCmdBody("GetErrorLog", "cut.log"));
  const std::string cutPath = std::filesystem::canonical(cut).string();
  ASSERT_TRUE(WaitUntil([&] { return HasMapped(cutPath); }, 20000, 1));
  ASSERT_EQ(truncate(cut.c_str(), 4096), 0);
  ASSERT_TRUE(WaitUntil([&] { return SentAt(3) >= 0; }, 300000));
  EXPECT_EQ(Hex(BodyOf(3)), Hex(EmptyResultReply("GetErrorLog", "cut.log")));
  EXPECT_EQ(m_Log.Texts(llWarn), std::vector<std::string>{"TVemoMapServerManagerMain::OnSVCCmdGetErrorLog " + cut +
                                                          " was truncated while it was read; answered without data"});
  EXPECT_EQ(platform::SharedMemoryFaultCount() - faultsBefore, 1u) << "one fault for the view, not one per page";
}

TEST_F(ReplyTest, TheFileNameIsCutToTheRoomLeftInThePathBuffer) {
  // A directory of 250 characters leaves room for 9 of the name.
  std::string longDir = m_Dir.Path();
  while (longDir.size() < 250) {
    const std::size_t segment = std::min<std::size_t>(60, 250 - longDir.size()) - 1;
    longDir += std::string(segment == 0 ? 1 : segment, 'd') + "/";
  }
  ASSERT_EQ(longDir.size(), 250u);
  std::filesystem::create_directories(longDir);
  std::ofstream(longDir + "abcdefghi", std::ios::binary) << "cut name";
  m_Log.m_LogPath = longDir;
  const CommonReply reply = DecodeCommonReply(Answer(RequestHead(5), CommonCmdBody("GetErrorLog", "abcdefghijk.log")));
  ASSERT_TRUE(reply.wellFormed);
  EXPECT_EQ(reply.param, "abcdefghijk.log");
  EXPECT_EQ(Inflate(reply.result, 100), "cut name");
}

TEST_F(ReplyTest, MalformedCommandsAreReadAsFarAsTheyGoAndWarnedAboutOnce) {
  m_Dir.Write("a.log", "log text");
  const std::string good = CommonCmdBody("GetErrorLog", "a.log");

  // A declared parameter longer than the body: read as empty, still answered.
  std::string tooLong = good;
  tooLong[35] = static_cast<char>(200);
  EXPECT_EQ(Hex(Answer(RequestHead(1), tooLong)), Hex(EmptyResultReply("GetErrorLog", std::string(200, '\0'))));

  // Bytes after the parameter: one warning with the whole body, and the file is sent.
  m_Log.Clear();
  const std::string extra = good + "XYZ";
  const CommonReply reply = DecodeCommonReply(Answer(RequestHead(1), extra));
  EXPECT_EQ(Inflate(reply.result, 100), "log text");
  EXPECT_EQ(m_Log.Texts(llWarn),
            std::vector<std::string>{"Error in tagCSVCommonCmd : " + HexText(extra.data(), extra.size()) + " "});

  // The name is compared exactly; other names, a short body and a name of 32 characters
  // (read as its first 31) are left to the status logic component, absent here.
  for (const std::string& body : {CommonCmdBody("geterrorlog", "a.log"), good.substr(0, 35),
                                  CommonCmdBody("GetErrorLog" + std::string(21, 'x'), "a.log")}) {
    bool answered = true;
    EXPECT_EQ(Answer(RequestHead(1), body, &answered), "");
    EXPECT_FALSE(answered);
  }
  MMORPG::MMORPGPacket_Stack packet;
  const std::string name32 = "GetErrorLog" + std::string(21, 'x');
  const std::string body = CommonCmdBody(name32, "p");
  packet.ReadData(body.data(), static_cast<int>(body.size()));
  m_Core.ClearSent();
  ASSERT_TRUE(m_Control->SendCommonCmdReply(&packet, "r", 1));
  EXPECT_EQ(DecodeCommonReply(m_Core.Sent().at(0).body).name, name32.substr(0, 31));

  m_Log.Clear();
  EXPECT_FALSE(m_Control->SendCommonCmdReply(&packet, nullptr, 3));
  EXPECT_FALSE(m_Control->SendCommonCmdReply(nullptr, "r", 1));
  EXPECT_EQ(m_Log.Texts(llError).size(), 2u);
  EXPECT_EQ(m_Log.Texts(llError)[0].rfind("Bad data : pData = 0x", 0), 0u);
  EXPECT_EQ(m_Core.Sent().size(), 1u);
}

TEST(CompressZlib9, EqualsCompress2AtLevel9AndStopsPastTheLimit) {
  std::mt19937 random(7);
  std::string data(1 << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 3 == 0 ? random() : 'a' + i % 7);
  uLongf expectedLength = compressBound(static_cast<uLong>(data.size()));
  std::string expected(expectedLength, '\0');
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(expected.data()), &expectedLength,
                      reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), 9),
            Z_OK);
  expected.resize(expectedLength);

  CompressedBlocks out;
  ASSERT_EQ(CompressZlib9(data.data(), data.size(), expected.size(), out), CompressResult::Ok);
  EXPECT_GT(out.Blocks.size(), 1u);
  EXPECT_TRUE(out.Join() == expected) << "the same single stream as compress2";
  EXPECT_EQ(CompressZlib9(data.data(), data.size(), expected.size() - 1, out), CompressResult::TooLarge);
  EXPECT_EQ(out.Size, 0u);
  EXPECT_TRUE(out.Blocks.empty());
}

}  // namespace
