// The status server program (build/bin/VemoStatusServer) with the real network core as the
// manager's side: login, heartbeat, the base information table, fetched logs and commands,
// malformed peers, the line-information answer to the real Sarvent.py, and a restart of the
// server under a connected core.
#include <zlib.h>

#include <filesystem>
#include <sstream>

#include "NetTestSupport.h"
#include "common/Utils.h"
#include "platform/process.h"
#include "support/RecordingLog.h"

using namespace nettest;
namespace fs = std::filesystem;

namespace {

// The words of an output line after its time of day ("HH:MM:SS.mmm ").
std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line.substr(std::min<std::size_t>(line.size(), 13)));
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string ReadFile(const fs::path& path) {
  std::string content;
  ReadWholeFile(path.string(), content);
  return content;
}

// The number after the last ':' of the first line holding `part`.
int PortFrom(ChildProgram& server, const std::string& part) {
  const std::string line = server.WaitLine(part);
  const auto colon = line.find(':', line.find(part) + part.size() - 1);
  return colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
}

uint32_t Key(unsigned code, unsigned mapId, unsigned lineId = 2, unsigned serverType = 6) {
  return code | (mapId << 9) | (lineId << 21) | (serverType << 27);
}

// A base information reply body, item by item.
struct ReplyBuilder {
  void Number(uint32_t key, int64_t value) {
    PutLe(numbers, key, 4);
    PutLe(numbers, static_cast<uint64_t>(value), 8);
    ++numberCount;
  }
  void Text(uint32_t key, const std::string& text) {
    PutLe(texts, key, 4);
    PutLe(texts, text.size(), 2);
    texts += text;
    ++textCount;
  }
  std::string Body() const {
    std::string body("\x05\x01\x00", 3);
    PutLe(body, numberCount, 2);
    body += numbers;
    PutLe(body, textCount, 2);
    return body + texts;
  }
  std::string numbers, texts;
  int numberCount = 0, textCount = 0;
};

std::string CommandName(const std::string& name) {
  std::string field = name;
  field.resize(32, '\0');
  return field;
}

// The manager's reply to a common command.
std::string CommandReply(const std::string& name, const std::string& result, const std::string& param) {
  std::string body("\x01\x05\x00", 3);
  body += CommandName(name);
  PutLe(body, result.size(), 4);
  body += result;
  body.push_back(static_cast<char>(param.size()));
  return body + param;
}

std::string Compress(const std::string& bytes) {
  uLongf size = compressBound(bytes.size());
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size(), 9);
  out.resize(size);
  return out;
}

class StatusServerProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    core = Core();
    ASSERT_NE(core, nullptr);
    dir = fs::temp_directory_path() / ("vemo_statusserver_" + std::to_string(platform::CurrentProcessId()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    core->Stop();
    core->Shutdown();
    fs::remove_all(dir);
  }

  // Starts the server; returns its managers' port.
  int Start(ChildProgram& server, std::vector<std::string> options, int port = 0) {
    std::vector<std::string> argv = {std::string(VEMO_BIN_DIR) + "VemoStatusServer",
                                     "--listen=127.0.0.1:" + std::to_string(port),
                                     "--fetch-dir=" + (dir / "fetched").string()};
    argv.insert(argv.end(), options.begin(), options.end());
    EXPECT_TRUE(server.Start(argv));
    return PortFrom(server, "listening for managers on ");
  }

  // The core connects and logs in as the start of the link does: the login is the caller's,
  // the core does not ask for another one.
  void LogIn(ChildProgram& server, int port, int session) {
    ASSERT_TRUE(core->Connect("127.0.0.1", port));
    ASSERT_FALSE(core->NeedLogin());
    ASSERT_TRUE(SendMessage(core, Head(), LoginBody("MapServer")));
    ASSERT_NE(server.WaitLine("manager " + std::to_string(session) + " logged in as \"MapServer\""), "");
  }

  // The next request the server sends, checked to be of the given body start.
  std::string NextRequest(const std::string& bodyStart) {
    std::string request;
    EXPECT_TRUE(PopMessage(core, request, 5000)) << "no request starting " << HexOf(bodyStart);
    EXPECT_EQ(request.substr(9, bodyStart.size()), bodyStart);
    EXPECT_NE(EchoOf(request), 0);
    return request;
  }
  static std::string HexOf(const std::string& bytes) {
    std::string hex;
    for (unsigned char c : bytes) hex += std::to_string(c) + " ";
    return hex;
  }

  RecordingLog log;
  ITiravo* core = nullptr;
  fs::path dir;
};

TEST_F(StatusServerProgram, LogsInAManagerAndShowsItsFiguresAsATable) {
  ChildProgram server;
  const int port = Start(server, {"--lineinfo=off", "--period=0.4"});
  ASSERT_GT(port, 0);
  LogIn(server, port, 1);
  ASSERT_TRUE(SendMessage(core, Head(), std::string("\x01\x04\xB3", 3)));
  EXPECT_NE(server.WaitLine("manager 1 heartbeat"), "");

  // The request as the manager's request thread sees it: 06 01 under a fresh EchoTag, both
  // server types 13.
  const std::string request = NextRequest(std::string("\x06\x01", 2));
  EXPECT_EQ(request.size(), 11u);
  EXPECT_EQ(request[7], 13);
  EXPECT_EQ(request[8], 13);

  // Two maps on line 2: a running one, and one in state 5 whose crash report comes first.
  ReplyBuilder reply;
  reply.Text(Key(60, 7), "C++ Error; LastErrorTime:2026-12-09 10:00:00;LastFatalTime:");
  for (unsigned map : {3u, 7u}) {
    const bool running = map == 3;
    reply.Number(Key(56, map), running ? 4 : -1);
    reply.Number(Key(57, map), running ? 13107200 : 0);
    reply.Number(Key(58, map), running ? 8388608 : 0);
    reply.Number(Key(122, map), running ? 512 : 0);
    reply.Number(Key(64, map), running ? 120 : 0);
    reply.Number(Key(123, map), running ? 30 : 0);
    reply.Number(Key(124, map), running ? 25 : 0);
    reply.Number(Key(125, map), 0);
    reply.Number(Key(126, map), running ? 4321 : 0);
    reply.Number(Key(127, map), running ? 2 : 0);
    reply.Number(Key(150, 0, 2, 11), 2);
    reply.Text(Key(120, map), running ? "Town_3(Town)" : "Cave_7(Cave)");
    reply.Text(Key(121, map), running ? "Running" : "unknown");
  }
  ASSERT_TRUE(SendMessage(core, Head(EchoOf(request)), reply.Body()));
  const std::string title = server.WaitLine("manager 1 \"MapServer\" base information (echo " +
                                            std::to_string(EchoOf(request)) + ", answered in");
  EXPECT_NE(title.find("2 maps, map entries 2, line 2, server type 6"), std::string::npos) << title;
  const std::vector<std::string> table = server.NextLines(4);
  ASSERT_EQ(table.size(), 4u);
  EXPECT_EQ(Words(table[0]), (std::vector<std::string>{"map", "name", "state", "players", "items", "FPS", "CPU%",
                                                       "memory", "pagefile", "objects", "pid", "FB"}));
  EXPECT_EQ(Words(table[1]), (std::vector<std::string>{"3", "Town_3(Town)", "Running", "120", "30", "25", "4", "12.5",
                                                       "MiB", "8.0", "MiB", "512", "4321", "2"}));
  EXPECT_EQ(Words(table[2]), (std::vector<std::string>{"7", "Cave_7(Cave)", "unknown", "0", "0", "0", "-1", "0.0",
                                                       "MiB", "0.0", "MiB", "0", "0", "0"}));
  EXPECT_EQ(TrimText(table[3].substr(13)), "map 7: C++ Error; LastErrorTime:2026-12-09 10:00:00;LastFatalTime:");

  // The period brings the next request; a reply that announces more items than it holds is
  // malformed: the server drops that connection, and the core comes back with a new login.
  const std::string second = NextRequest(std::string("\x06\x01", 2));
  EXPECT_NE(EchoOf(second), EchoOf(request));
  ReplyBuilder shortReply;
  shortReply.Number(Key(56, 3), 1);
  std::string body = shortReply.Body();
  body[3] = 5;
  ASSERT_TRUE(SendMessage(core, Head(EchoOf(second)), body));
  EXPECT_NE(server.WaitLine("manager 1 dropped: malformed base information reply: 5 numeric items announced"), "");
  ASSERT_TRUE(WaitUntil([&] { return core->IsConnected() && core->NeedLogin(); }, 8000));
  ASSERT_TRUE(SendMessage(core, Head(), LoginBody("MapServer")));
  EXPECT_NE(server.WaitLine("manager 2 logged in as \"MapServer\""), "");
}

TEST_F(StatusServerProgram, FetchesLogsDecompressedAndRelaysCommands) {
  ChildProgram server;
  const int port = Start(server, {"--lineinfo=off", "--period=0"});
  LogIn(server, port, 1);
  NextRequest(std::string("\x06\x01", 2));  // the first figures, asked at login

  // GetErrorLog: the request record, then a whole zlib stream written out decompressed.
  std::string text;
  for (int i = 0; text.size() < 300000; ++i)
    text += "2026-12-09 10:00:00 Error line " + std::to_string(i * 7919) + "\n";
  server.Write("getlog 1 a.log");
  std::string request = NextRequest(std::string("\x03\x04", 2));
  EXPECT_EQ(request.substr(9), std::string("\x03\x04\x00", 3) + CommandName("GetErrorLog") +
                                   "\x05"
                                   "a.log");
  ASSERT_TRUE(SendMessage(core, Head(EchoOf(request)), CommandReply("GetErrorLog", Compress(text), "a.log")));
  const std::string written = server.WaitLine("manager 1 GetErrorLog \"a.log\": ");
  EXPECT_NE(written.find(std::to_string(text.size()) + " bytes written to"), std::string::npos) << written;
  EXPECT_EQ(ReadFile(dir / "fetched" / "1_a.log"), text);

  // A name that climbs out of the fetch directory lands inside it all the same.
  server.Write("getlog 1 ../../escaped.log");
  request = NextRequest(std::string("\x03\x04", 2));
  ASSERT_TRUE(
      SendMessage(core, Head(EchoOf(request)), CommandReply("GetErrorLog", Compress("x"), "../../escaped.log")));
  EXPECT_NE(server.WaitLine("bytes written to"), "");
  EXPECT_EQ(ReadFile(dir / "fetched" / "1_.._.._escaped.log"), "x");
  EXPECT_FALSE(fs::exists(dir / "escaped.log"));
  EXPECT_FALSE(fs::exists(dir.parent_path() / "escaped.log"));

  // An empty result (no such file on the manager), and a damaged stream: nothing written.
  server.Write("getlog 1 missing.log");
  request = NextRequest(std::string("\x03\x04", 2));
  ASSERT_TRUE(SendMessage(core, Head(EchoOf(request)), CommandReply("GetErrorLog", "", "missing.log")));
  EXPECT_NE(server.WaitLine("GetErrorLog \"missing.log\": empty result"), "");
  server.Write("getlog 1 b.log");
  request = NextRequest(std::string("\x03\x04", 2));
  std::string damaged = Compress(text);
  damaged[damaged.size() / 2] ^= 0x55;
  ASSERT_TRUE(SendMessage(core, Head(EchoOf(request)), CommandReply("GetErrorLog", damaged, "b.log")));
  EXPECT_NE(
      server.WaitLine("GetErrorLog \"b.log\": " + std::to_string(damaged.size()) + " compressed bytes not written"),
      "");
  EXPECT_FALSE(fs::exists(dir / "fetched" / "1_b.log"));
  EXPECT_FALSE(fs::exists(dir / "fetched" / "1_b.log.part"));

  // Any other command goes out as written and its reply is printed.
  server.Write("cmd 1 Echo hello there");
  request = NextRequest(std::string("\x03\x04", 2));
  EXPECT_EQ(request.substr(9), std::string("\x03\x04\x00", 3) + CommandName("Echo") +
                                   "\x0B"
                                   "hello there");
  ASSERT_TRUE(SendMessage(core, Head(EchoOf(request)), CommandReply("Echo", "hi there", "hello there")));
  EXPECT_NE(server.WaitLine("manager 1 reply to \"Echo\" \"hello there\": 8 bytes: hi there"), "");

  server.Write("getlog 9 a.log");
  EXPECT_NE(server.WaitLine("no logged-in manager \"9\""), "");
  server.Write("list");
  EXPECT_NE(server.WaitLine("manager 1 127.0.0.1:"), "");
  server.Write("quit");
  int status = 0;
  ASSERT_TRUE(server.WaitExit(5000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(StatusServerProgram, DropsMalformedPeersAndServesTheOthers) {
  ChildProgram server;
  const int port = Start(server, {"--lineinfo=off", "--period=0", "--login-timeout=1"});
  const struct {
    const char* name;
    std::string bytes;
    const char* dropped;
  } peers[] = {
      {"not the link's protocol", "GET / HTTP/1.1\r\n\r\n", "bad frame: no frame head"},
      {"a wrong login code", Frame(Head() + LoginBody("MapServer", 0x1234)), "login refused: login code 0x1234"},
      {"a login name longer than it says", Frame(Head() + LoginBody("MapServer") + "xx"),
       "login refused: the name length"},
      {"a message without class and subtype", Frame(Head() + LoginBody("M")) + Frame(Head() + "\x05"),
       "without its class and subtype"},
      {"a reply whose result runs past its end",
       Frame(Head() + LoginBody("M")) + Frame(Head() + CommandReply("X", "abc", "p").substr(0, 40)),
       "malformed command reply: a result of 3 bytes announced, 1 present"},
      {"a frame of 200 MiB", std::string("\xFF\xCC\x00\x00\x80\x0C", 6), "more than the"},
      {"a large message before the login", std::string("\xFF\xCC\x00\x00\x10\x00", 6) + std::string(100000, 'x'),
       "before its login"},
      {"silence", "", "no login within 1 s"},
  };
  int session = 0;
  for (const auto& peer : peers) {
    SCOPED_TRACE(peer.name);
    ++session;
    RawClient client(port);
    ASSERT_TRUE(client.Connected());
    if (!peer.bytes.empty()) {
      ASSERT_TRUE(client.Send(peer.bytes));
    }
    const std::string line = server.WaitLine("manager " + std::to_string(session) + " dropped: ");
    EXPECT_NE(line.find(peer.dropped), std::string::npos) << line;
    bool closed = false;
    client.ReadUntilClose(3000, &closed);
    EXPECT_TRUE(closed);
  }
  // A manager before its login is ignored, not dropped; then the real core is served.
  LogIn(server, port, session + 1);
}

TEST_F(StatusServerProgram, AnswersSarventWithItsVersionAndLine) {
  ChildProgram server;
  Start(server, {"--lineinfo=127.0.0.1:0", "--version=7", "--line=3", "--period=0"});
  const int lineInfoPort = PortFrom(server, "line information on ");
  ASSERT_GT(lineInfoPort, 0);
  // The real script, run from a copy so that its result lands in the test's directory.
  fs::copy_file(std::string(VEMO_BIN_DIR) + "MapServerData/MapServerConfig/Sarvent.py", dir / "Sarvent.py");
  const std::string command = "/usr/bin/python3 Sarvent.py 127.0.0.1 " + std::to_string(lineInfoPort);
  int code = -1;
  ASSERT_TRUE(platform::RunShellCommand(command, dir.string(), &code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFile(dir / "SarventResult" / "Result.txt"), "7\n3\n");
  EXPECT_NE(server.WaitLine("line information for \""), "");

  // Requests that are not one LINEINFO line get no answer and a log line.
  const struct {
    std::string bytes;
    const char* dropped;
  } bad[] = {
      {"HELLO there\n", "not a LINEINFO request"},
      {std::string(300, 'x'), "no request line within 256 bytes"},
      {"LINEINFO half a line", "closed before a whole request line"},
  };
  for (const auto& request : bad) {
    {
      RawClient client(lineInfoPort);
      ASSERT_TRUE(client.Send(request.bytes));
      // The last one hangs up itself before its line is whole.
      if (&request != &bad[2]) {
        bool closed = false;
        EXPECT_EQ(client.ReadUntilClose(3000, &closed), "");
        EXPECT_TRUE(closed);
      }
    }
    const std::string line = server.WaitLine("line information peer ");
    EXPECT_NE(line.find(request.dropped), std::string::npos) << line;
  }
  fs::remove(dir / "SarventResult" / "Result.txt");
  ASSERT_TRUE(platform::RunShellCommand(command, dir.string(), &code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFile(dir / "SarventResult" / "Result.txt"), "7\n3\n");
}

TEST_F(StatusServerProgram, ARestartUnderAConnectedCoreBringsExactlyOneNewLogin) {
  const int port = FreePort();
  ChildProgram first;
  ASSERT_EQ(Start(first, {"--lineinfo=off", "--period=0"}, port), port);
  LogIn(first, port, 1);

  first.Kill(SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return !core->IsConnected(); }, 3000));
  EXPECT_FALSE(core->NeedLogin());
  ChildProgram second;
  ASSERT_EQ(Start(second, {"--lineinfo=off", "--period=0"}, port), port);
  ASSERT_TRUE(WaitUntil([&] { return core->IsConnected(); }, 8000));
  ASSERT_TRUE(core->NeedLogin());
  ASSERT_TRUE(SendMessage(core, Head(), LoginBody("MapServer")));
  core->ClearNeedLogin();
  EXPECT_NE(second.WaitLine("manager 1 logged in as \"MapServer\""), "");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(core->NeedLogin());
  EXPECT_EQ(second.WaitLine("manager 2", 200), "");
}

}  // namespace
