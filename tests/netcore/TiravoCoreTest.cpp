// The network core "Tiravo.dll", loaded from the runnable tree as the manager loads it,
// against a TCP peer that the test drives: the wire bytes both ways, the login flag over
// reconnects, concurrent sends, a broken, flooding or never reading peer, a process out of
// descriptors, Stop and Shutdown.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>

#include <atomic>
#include <map>
#include <thread>

#include "NetTestSupport.h"
#include "platform/process.h"
#include "support/RecordingLog.h"

using namespace nettest;

namespace {

class TiravoCore : public ::testing::Test {
 protected:
  void SetUp() override {
    core = Core();
    ASSERT_NE(core, nullptr);
    // A sanitizer's runtime starts a thread of its own with the first thread of the program.
    std::thread([] {}).join();
    threadsBefore = ThreadCount();
  }
  void TearDown() override {
    if (core != nullptr) {
      core->Stop();
      core->Shutdown();
    }
  }

  // Connects to the peer and takes its side of the connection.
  void ConnectTo(TestPeer& peer) {
    ASSERT_TRUE(core->Connect("127.0.0.1", peer.Port()));
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(core->IsConnected());
  }

  bool LogHas(int level, const std::string& part) {
    for (const std::string& text : log.Texts(level))
      if (text.find(part) != std::string::npos) return true;
    return false;
  }

  RecordingLog log;
  ITiravo* core = nullptr;
  int threadsBefore = 0;
};

TEST_F(TiravoCore, ConnectsAndCarriesWholeMessagesBothWays) {
  // Nothing listens: a refusal, reported at once, and no connection afterwards.
  const int closedPort = FreePort();
  const auto before = Clock::now();
  EXPECT_FALSE(core->Connect("127.0.0.1", closedPort));
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(4));
  EXPECT_FALSE(core->IsConnected());
  EXPECT_FALSE(core->Connect("127.0.0.1", 0));
  EXPECT_FALSE(core->Connect(nullptr, 21888));

  // A host name is resolved too; the caller of Connect sends its own login, so the first
  // connection does not ask for another one.
  TestPeer peer;
  ASSERT_TRUE(core->Connect("localhost", peer.Port()));
  ASSERT_TRUE(peer.Accept());
  EXPECT_FALSE(core->NeedLogin());
  // Connecting again to the same address keeps the connection.
  EXPECT_TRUE(core->Connect("localhost", peer.Port()));
  EXPECT_FALSE(peer.Accept(300));
  EXPECT_FALSE(core->NeedLogin());

  // Out: the frame of the packet layer around head and body, byte for byte.
  ASSERT_TRUE(SendMessage(core, Head(), std::string("\x01\x04\xB3", 3)));
  ASSERT_TRUE(SendMessage(core, Head(0x1234), ""));
  std::vector<std::string> out = peer.ReadMessages(2);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(Frame(out[0]), std::string("\xFF\xCC\x0C\x00\x00\x00"
                                       "\x00\x00\x00\x00\x00\x00\x00\x0D\x0D"
                                       "\x01\x04\xB3",
                                       18));
  EXPECT_EQ(out[1], Head(0x1234));
  // A head of another length, or a body that is not there, is refused.
  EXPECT_FALSE(core->SendPack("12345678", 8, "ab", 2));
  EXPECT_FALSE(core->SendPack(Head().data(), 9, nullptr, 2));

  // In: two messages in one write, a third in three pieces cut inside its frame head and body.
  const std::string first = Head(7) + std::string("\x06\x01", 2);
  const std::string second = Head(8, 5) + std::string("\x03\x04zero\0bytes", 12);
  const std::string third = Head(9) + std::string(3000, 'x');
  ASSERT_TRUE(peer.SendBytes(Frame(first) + Frame(second)));
  const std::string thirdFrame = Frame(third);
  ASSERT_TRUE(peer.SendBytes(thirdFrame.substr(0, 3)));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(peer.SendBytes(thirdFrame.substr(3, 1000)));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(peer.SendBytes(thirdFrame.substr(1003)));
  ASSERT_TRUE(WaitUntil([&] { return core->GetRecvCount() == 3; }, 3000));

  MMORPG::MMORPGPacket packet;
  ASSERT_TRUE(core->PopRecvPack(&packet));
  EXPECT_EQ(packet.m_PackHead.EchoTag, 7);
  EXPECT_EQ(std::string(packet.GetData(), packet.GetDataLen()), std::string("\x06\x01", 2));
  EXPECT_EQ(core->GetRecvCount(), 2);
  ASSERT_TRUE(core->PopRecvPack(&packet));
  EXPECT_EQ(packet.m_PackHead.EchoTag, 8);
  EXPECT_EQ(packet.m_PackHead.DestServerType, 5);
  EXPECT_EQ(std::string(packet.GetData(), packet.GetDataLen()), second.substr(9));
  EXPECT_FALSE(core->PopRecvPack(nullptr));
  EXPECT_EQ(core->GetRecvCount(), 1);
  ASSERT_TRUE(core->PopRecvPack(&packet));
  EXPECT_EQ(std::string(packet.GetData(), packet.GetDataLen()), third.substr(9));
  EXPECT_FALSE(core->PopRecvPack(&packet));
  EXPECT_EQ(packet.GetDataLen(), 3000);  // untouched by the empty pop
}

TEST_F(TiravoCore, ReconnectsAfterADropAndAsksForOneLoginEachTime) {
  TestPeer peer;
  ConnectTo(peer);
  core->ClearNeedLogin();

  for (int round = 0; round < 2; ++round) {
    peer.CloseConnection();  // the status server lets go
    ASSERT_TRUE(WaitUntil([&] { return !core->IsConnected(); }, 3000));
    ASSERT_TRUE(peer.Accept(5000)) << "no reconnect in round " << round;
    ASSERT_TRUE(WaitUntil([&] { return core->IsConnected(); }, 3000));
    EXPECT_TRUE(core->NeedLogin());
    core->ClearNeedLogin();
    // The new connection carries messages, and nothing asks for a second login.
    ASSERT_TRUE(SendMessage(core, Head(), "after"));
    EXPECT_EQ(peer.ReadMessages(1), std::vector<std::string>{Head() + "after"});
    EXPECT_FALSE(peer.Accept(400));
    EXPECT_FALSE(core->NeedLogin());
  }
  EXPECT_TRUE(LogHas(llWarn, "dropped: closed by the peer; reconnecting in"));

  // The status server away for a while: the core keeps trying and comes back once.
  const int port = peer.Port();
  peer.CloseConnection();
  peer.StopListening();
  ASSERT_TRUE(WaitUntil([&] { return !core->IsConnected(); }, 3000));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(core->IsConnected());
  peer.Listen(port);
  ASSERT_TRUE(peer.Accept(8000));
  ASSERT_TRUE(WaitUntil([&] { return core->IsConnected(); }, 3000));
  EXPECT_TRUE(core->NeedLogin());
  EXPECT_TRUE(LogHas(llWarn, "retrying with back-off"));
  EXPECT_TRUE(LogHas(llInfo, "connected to 127.0.0.1:" + std::to_string(port) + " again"));
}

TEST_F(TiravoCore, SendsFromManyThreadsAtOnceArriveWhole) {
  TestPeer peer;
  ConnectTo(peer);
  constexpr int kThreads = 8;
  constexpr int kPerThread = 300;
  std::atomic<bool> go{false};
  std::atomic<int> refused{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kPerThread; ++i) {
        // Thread, sequence, then a body whose length and bytes follow from both.
        std::string body;
        body.push_back(static_cast<char>(t));
        PutLe(body, static_cast<uint32_t>(i), 4);
        const std::size_t filler = static_cast<std::size_t>((i * 37 + t * 101) % 2500);
        for (std::size_t k = 0; k < filler; ++k) body.push_back(static_cast<char>((k + i + t) & 0xFF));
        if (!SendMessage(core, Head(static_cast<uint16_t>(i)), body)) ++refused;
      }
    });
  }
  go = true;
  // The request thread reads meanwhile, as it does while components send.
  std::thread reader([&] {
    for (int i = 0; i < 200; ++i) {
      core->GetRecvCount();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  for (auto& sender : senders) sender.join();
  reader.join();
  EXPECT_EQ(refused.load(), 0);

  const std::vector<std::string> messages = peer.ReadMessages(kThreads * kPerThread, 10000);
  ASSERT_EQ(messages.size(), static_cast<std::size_t>(kThreads * kPerThread));
  std::map<int, int> next;
  for (const std::string& message : messages) {
    ASSERT_GE(message.size(), 14u);
    const int t = message[9];
    int i = 0;
    for (int b = 0; b < 4; ++b) i |= static_cast<unsigned char>(message[10 + b]) << (8 * b);
    ASSERT_EQ(i, next[t]) << "thread " << t << " out of order";
    ++next[t];
    ASSERT_EQ(EchoOf(message), static_cast<uint16_t>(i));
    const std::size_t filler = static_cast<std::size_t>((i * 37 + t * 101) % 2500);
    ASSERT_EQ(message.size(), 14 + filler);
    for (std::size_t k = 0; k < filler; ++k) ASSERT_EQ(static_cast<unsigned char>(message[14 + k]), (k + i + t) & 0xFF);
  }
}

TEST_F(TiravoCore, ABadFrameDropsTheConnectionAndWhatCameWithIt) {
  TestPeer peer;
  ConnectTo(peer);
  const struct {
    const char* name;
    std::string bytes;
    const char* logged;
  } cases[] = {
      {"not the link's protocol", "GET / HTTP/1.1\r\n\r\n", "no frame head"},
      {"a message without its head",
       std::string("\xFF\xCC\x03\x00\x00\x00"
                   "abc",
                   9),
       "shorter than its 9-byte head"},
      {"a message over 1 MiB", std::string("\xFF\xCC\x01\x00\x10\x00", 6), "more than the 1048576 allowed"},
  };
  for (const auto& broken : cases) {
    SCOPED_TRACE(broken.name);
    log.Clear();
    // A good message first, in the same write: it goes with the connection.
    ASSERT_TRUE(peer.SendBytes(Frame(Head(1) + std::string("\x06\x01", 2)) + broken.bytes));
    EXPECT_TRUE(peer.SeesClose());
    EXPECT_TRUE(WaitUntil([&] { return LogHas(llWarn, "bad frame"); }, 2000));
    EXPECT_TRUE(LogHas(llWarn, broken.logged));
    EXPECT_EQ(core->GetRecvCount(), 0);
    // And the core comes back with a new connection that asks for a login.
    core->ClearNeedLogin();
    ASSERT_TRUE(peer.Accept(5000));
    ASSERT_TRUE(WaitUntil([&] { return core->IsConnected() && core->NeedLogin(); }, 3000));
  }
}

// The resident memory of this process in bytes.
uint64_t ResidentBytes() {
  platform::MemoryCounters counters;
  platform::GetMemoryCounters(platform::CurrentProcessId(), &counters);
  return counters.WorkingSetSize;
}

TEST_F(TiravoCore, AFloodingPeerIsDroppedAndMemoryStaysFlat) {
  TestPeer peer;
  ConnectTo(peer);
  const uint64_t residentBefore = ResidentBytes();
  std::atomic<bool> flooding{true};
  std::atomic<uint64_t> residentPeak{residentBefore};
  std::atomic<int> countPeak{0};
  std::thread watcher([&] {
    while (flooding.load()) {
      residentPeak = std::max<uint64_t>(residentPeak.load(), ResidentBytes());
      countPeak = std::max(countPeak.load(), core->GetRecvCount());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });

  // Nobody reads. Large messages first (the byte bound), then many small ones (the count
  // bound); each flood is stopped by the core closing the connection.
  const std::string large = Frame(Head() + std::string(1000 * 1000, 'L'));
  std::string small;
  for (int i = 0; i < 4000; ++i) small += Frame(Head() + "s");
  for (const std::string* flood : std::initializer_list<const std::string*>{&large, &small}) {
    uint64_t sent = 0;
    while (sent < 300ull * 1024 * 1024 && peer.SendBytes(*flood)) sent += flood->size();
    EXPECT_LT(sent, 300ull * 1024 * 1024) << "the peer was never dropped";
    EXPECT_TRUE(WaitUntil([&] { return LogHas(llWarn, "the peer sends faster than the manager reads"); }, 3000));
    log.Clear();
    ASSERT_TRUE(peer.Accept(8000));
  }
  flooding = false;
  watcher.join();
  EXPECT_LE(countPeak.load(), 10000);
  EXPECT_EQ(core->GetRecvCount(), 0);
  // Without its bounds the queue would hold the hundreds of MiB sent. (ThreadSanitizer adds
  // its shadow of every byte touched.)
#if defined(__SANITIZE_THREAD__)
  constexpr uint64_t kAllowedGrowth = 256ull * 1024 * 1024;
#else
  constexpr uint64_t kAllowedGrowth = 64ull * 1024 * 1024;
#endif
  EXPECT_LT(residentPeak.load() - residentBefore, kAllowedGrowth);
}

TEST_F(TiravoCore, StopClosesForGoodAndShutdownEndsTheThread) {
  TestPeer peer;
  ConnectTo(peer);
  EXPECT_GT(ThreadCount(), threadsBefore);
  ASSERT_TRUE(peer.SendBytes(Frame(Head(3) + "x")));
  ASSERT_TRUE(WaitUntil([&] { return core->GetRecvCount() == 1; }, 2000));

  EXPECT_NE(core->Stop(), 0);
  EXPECT_FALSE(core->IsConnected());
  EXPECT_EQ(core->GetRecvCount(), 0);
  EXPECT_TRUE(peer.SeesClose(2000));
  EXPECT_FALSE(SendMessage(core, Head(), "late"));
  EXPECT_FALSE(peer.Accept(1500)) << "reconnected after Stop";

  // The link may connect again later; Shutdown then ends the I/O thread for good.
  ASSERT_TRUE(core->Connect("127.0.0.1", peer.Port()));
  ASSERT_TRUE(peer.Accept());
  EXPECT_FALSE(core->NeedLogin());
  core->Stop();
  core->Shutdown();
  EXPECT_TRUE(peer.SeesClose(2000));
  EXPECT_EQ(ThreadCount(), threadsBefore);
  EXPECT_FALSE(core->IsConnected());
  EXPECT_FALSE(SendMessage(core, Head(), "after shutdown"));
  core->Shutdown();  // twice is harmless
}

// A status server that asks and never reads the answers: the replies waiting to be sent
// stay within the send bound, then the peer is dropped and reconnected as after a bad frame.
TEST_F(TiravoCore, APeerThatNeverReadsIsDroppedAtTheSendBound) {
  TestPeer peer;
  ConnectTo(peer);
  [[maybe_unused]] const uint64_t residentBefore = ResidentBytes();  // read outside the ASan pass
  const std::string body(64 * 1024, 'r');
  uint64_t accepted = 0;
  while (accepted < 300ull * 1024 * 1024 && SendMessage(core, Head(), body)) accepted += body.size();
  // The bound, and what the two sockets' buffers took before the backlog began to grow.
  EXPECT_LT(accepted, 48ull * 1024 * 1024);
#if !defined(VEMO_UNDER_ASAN)
  // AddressSanitizer's quarantine keeps every freed message resident, so memory says nothing
  // there; the bound on what was accepted above still holds in that pass.
  EXPECT_LT(ResidentBytes() - residentBefore, 64ull * 1024 * 1024);
#endif
  EXPECT_TRUE(peer.SeesClose(5000));
  EXPECT_TRUE(WaitUntil([&] { return LogHas(llWarn, "dropped: the peer reads too slowly"); }, 3000));
  ASSERT_TRUE(peer.Accept(5000));
  ASSERT_TRUE(WaitUntil([&] { return core->IsConnected() && core->NeedLogin(); }, 3000));
  ASSERT_TRUE(SendMessage(core, Head(), "again"));
  EXPECT_EQ(peer.ReadMessages(1), std::vector<std::string>{Head() + "again"});
}

// The number of descriptors this process has open.
int OpenDescriptors() {
  int count = 0;
  if (DIR* fds = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(fds))
      if (entry->d_name[0] != '.') ++count;
    closedir(fds);
  }
  return count - 1;  // the directory's own
}

// No descriptor left for the core's I/O objects or socket: the connect fails with a log line
// instead of an exception ending the program, and succeeds once descriptors are free again.
TEST_F(TiravoCore, ConnectWithoutDescriptorsFailsAndLogsWhy) {
#if defined(VEMO_UNDER_ASAN)
  // The undefined-behaviour sanitizer checks a virtual call's dynamic type by probing memory
  // through a pipe; with the descriptor table full on purpose it cannot make one and reports
  // every virtual call as invalid. The main pass runs this test.
  GTEST_SKIP() << "the sanitizer's type check needs a free descriptor";
#endif
  TestPeer peer;
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(OpenDescriptors() + 16);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  std::vector<int> filler;  // takes every number left below the limit
  for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) filler.push_back(fd);
  const bool connected = core->Connect("127.0.0.1", peer.Port());
  for (int fd : filler) close(fd);
  setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_FALSE(connected);
  EXPECT_FALSE(core->IsConnected());
  bool explained = false;
  std::string lines;
  for (const auto& line : log.Lines()) {
    lines += line.text + "\n";
    explained =
        explained || (line.text.starts_with("CTiravo::") && line.text.find("Too many open files") != std::string::npos);
  }
  EXPECT_TRUE(explained) << "no log line says why:\n" << lines;
  ConnectTo(peer);
}

}  // namespace
