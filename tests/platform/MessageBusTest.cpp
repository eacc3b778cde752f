#include "platform/message_bus.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>

#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include "PeerHelpers.h"
#include "platform/clock.h"
#include "platform/debug_output.h"

using namespace platform;

namespace {

std::mutex g_linesMutex;
std::vector<std::string> g_lines;
void CollectLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_linesMutex);
  g_lines.push_back(line);
}

struct DebugLines {
  DebugLines() {
    g_lines.clear();
    SetDebugSinkForTesting(CollectLine);
  }
  ~DebugLines() { SetDebugSinkForTesting(nullptr); }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(g_linesMutex);
    std::vector<std::string> out;
    out.swap(g_lines);
    return out;
  }
};

std::string BusDir() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime == '/') return std::string(runtime) + "/vemo-bus/";
  return "/tmp/vemo-bus-" + std::to_string(getuid()) + "/";
}

std::string UniqueTitle(const std::string& tag) { return tag + " " + std::to_string(getpid()); }

// An endpoint of this process that keeps what arrives.
struct Receiver {
  std::vector<BusMessage> got;
  std::unique_ptr<BusEndpoint> endpoint;
  explicit Receiver(const std::string& title)
      : endpoint(BusEndpoint::Open("TestReceiver", title, [this](const BusMessage& m) { got.push_back(m); })) {}
  // Pumps until `count` messages have arrived or the time is up.
  bool WaitFor(std::size_t count, int ms = 10000) {
    for (int waited = 0; got.size() < count && waited < ms; waited += 50) endpoint->Pump(50);
    return got.size() >= count;
  }
};

// Sends raw bytes to an endpoint's socket, as a broken or hostile peer would.
bool SendRaw(WindowHandle to, const std::vector<uint8_t>& bytes) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string path = BusDir() + std::to_string(to) + ".sock";
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ssize_t n = sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  close(fd);
  return n == static_cast<ssize_t>(bytes.size());
}

std::vector<uint8_t> Header(uint8_t kind, uint32_t dataLength, uint32_t magic = 0x53554256) {
  std::vector<uint8_t> h(36, 0);
  for (int i = 0; i < 4; ++i) h[i] = static_cast<uint8_t>(magic >> (8 * i));
  h[4] = 1;
  h[6] = kind;
  h[12] = 77;  // msg
  for (int i = 0; i < 4; ++i) h[32 + i] = static_cast<uint8_t>(dataLength >> (8 * i));
  return h;
}

}  // namespace

TEST(MessageBusTest, EndpointInThisProcess) {
  const std::string title = UniqueTitle("local");
  Receiver r(title);
  ASSERT_TRUE(r.endpoint);
  const WindowHandle h = r.endpoint->Handle();
  EXPECT_NE(h, 0u);
  EXPECT_EQ(r.endpoint->Class(), "TestReceiver");
  EXPECT_EQ(FindWindow("TestReceiver", title), h);
  EXPECT_EQ(FindWindow("", title), h);
  EXPECT_EQ(FindWindow("OtherClass", title), 0u);
  EXPECT_TRUE(IsWindow(h));
  EXPECT_EQ(GetWindowProcessId(h), CurrentProcessId());
  EXPECT_EQ(r.endpoint->Dispatch(), 0);  // nothing waiting, and no blocking

  // A title with a line break survives the info file.
  r.endpoint->SetTitle(title + "\nrenamed");
  EXPECT_EQ(r.endpoint->Title(), title + "\nrenamed");
  EXPECT_EQ(FindWindow("TestReceiver", title), 0u);
  EXPECT_EQ(FindWindow("TestReceiver", title + "\nrenamed"), h);

  ASSERT_TRUE(PostMessage(h, WM_USER + 3, 0xFFFFFFFFFFFFFFF0ULL, 42, 1234));
  ASSERT_TRUE(MinimizeWindow(h));
  ASSERT_EQ(r.endpoint->Dispatch(), 2);
  EXPECT_EQ(r.got[0].kind, BusMessage::Kind::Message);
  EXPECT_EQ(r.got[0].Msg, WM_USER + 3);
  EXPECT_EQ(r.got[0].WParam, 0xFFFFFFFFFFFFFFF0ULL);
  EXPECT_EQ(r.got[0].LParam, 42u);
  EXPECT_EQ(r.got[0].From, 1234u);
  EXPECT_EQ(r.got[0].SenderPid, CurrentProcessId());
  EXPECT_EQ(r.got[1].kind, BusMessage::Kind::Minimize);

  const std::string socketPath = BusDir() + std::to_string(h) + ".sock";
  r.endpoint.reset();
  struct stat st;
  EXPECT_NE(stat(socketPath.c_str(), &st), 0);  // the destructor removed its files
  EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(PostMessage(h, 1, 2, 3));
  EXPECT_FALSE(PostMessage(0, 1, 2, 3));
}

TEST(MessageBusTest, BusDirectoryIsPrivate) {
  struct stat st;
  Receiver r(UniqueTitle("private"));
  ASSERT_TRUE(r.endpoint);
  ASSERT_EQ(lstat(BusDir().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(st.st_uid, getuid());

  // A directory that others may enter is refused, with a debug line.
  const std::string runtime = peer::ScratchDir("xdg");
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  std::string savedValue = saved != nullptr ? saved : "";
  ASSERT_EQ(mkdir((runtime + "vemo-bus").c_str(), 0700), 0);
  chmod((runtime + "vemo-bus").c_str(), 0755);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  {
    DebugLines lines;
    EXPECT_EQ(BusEndpoint::Open("C", "T", nullptr), nullptr);
    auto texts = lines.Take();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("refusing"), std::string::npos) << texts[0];
  }
  chmod((runtime + "vemo-bus").c_str(), 0700);
  EXPECT_NE(BusEndpoint::Open("C", "T", nullptr), nullptr);
  if (saved != nullptr)
    setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
}

TEST(MessageBusTest, MalformedDatagramsAreDroppedWithADebugLine) {
  Receiver r(UniqueTitle("malformed"));
  ASSERT_TRUE(r.endpoint);
  const WindowHandle h = r.endpoint->Handle();
  DebugLines lines;

  ASSERT_TRUE(SendRaw(h, std::vector<uint8_t>(10, 0)));  // short
  ASSERT_TRUE(SendRaw(h, Header(1, 0, 0xDEADBEEF)));     // bad magic
  ASSERT_TRUE(SendRaw(h, Header(0, 0)));                 // unknown kinds
  ASSERT_TRUE(SendRaw(h, Header(9, 0)));
  std::vector<uint8_t> lying = Header(2, 500);  // claims more data than it carries
  lying.resize(36 + 10);
  ASSERT_TRUE(SendRaw(h, lying));
  std::vector<uint8_t> dataOnPost = Header(1, 4);  // data on a kind that carries none
  dataOnPost.resize(40);
  ASSERT_TRUE(SendRaw(h, dataOnPost));
  std::vector<uint8_t> huge = Header(2, 70000);  // larger than any copy-data block
  huge.resize(36 + 70000);
  ASSERT_TRUE(SendRaw(h, huge));
  std::vector<uint8_t> good = Header(2, 3);
  good.insert(good.end(), {1, 2, 3});
  ASSERT_TRUE(SendRaw(h, good));

  EXPECT_EQ(r.endpoint->Dispatch(), 1);
  ASSERT_EQ(r.got.size(), 1u);
  EXPECT_EQ(r.got[0].kind, BusMessage::Kind::CopyData);
  EXPECT_EQ(r.got[0].Msg, 77u);
  EXPECT_EQ(r.got[0].Data, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(lines.Take().size(), 7u);

  // The sending side refuses a block that no datagram may carry.
  std::vector<uint8_t> tooBig(kMaxCopyDataSize + 1);
  EXPECT_FALSE(SendCopyData(h, 1, tooBig.data(), tooBig.size()));
  EXPECT_FALSE(SendCopyData(h, 1, nullptr, 5));
}

TEST(MessageBusTest, DatagramFromAnotherUserIsDropped) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to send as another user";
  Receiver r(UniqueTitle("stranger"));
  ASSERT_TRUE(r.endpoint);
  DebugLines lines;
  const std::string path = BusDir() + std::to_string(r.endpoint->Handle()) + ".sock";
  pid_t child = fork();
  if (child == 0) {
    // Connected while still allowed to reach the socket, sent as user "nobody".
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) _exit(1);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    std::vector<uint8_t> datagram = Header(1, 0);
    // A few, as many as the socket queues without a reader.
    for (int i = 0; i < 8; ++i)
      if (send(fd, datagram.data(), datagram.size(), 0) != 36) _exit(3);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(r.endpoint->Dispatch(), 0);
  EXPECT_TRUE(r.got.empty());
  // One line for the first, not one for each.
  auto texts = lines.Take();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("another user (65534)"), std::string::npos) << texts[0];

  // A minute later the rest is reported as one count with the next datagram.
  struct LaterClock : Clock {
    uint32_t TickCount() override { return Clock::TickCount() + 61000; }
  } later;
  SetClockForTesting(&later);
  ASSERT_TRUE(PostMessage(r.endpoint->Handle(), WM_USER, 0, 0));
  EXPECT_EQ(r.endpoint->Dispatch(), 1);
  SetClockForTesting(nullptr);
  texts = lines.Take();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("7 more datagrams from other users dropped"), std::string::npos) << texts[0];
}

TEST(MessageBusTest, TwoProcessesFindAndAnswerEachOther) {
  const std::string dir = peer::ScratchDir("bus");
  const std::string title = UniqueTitle("echo");
  peer::Process echoPeer("bus-echo EchoClass \"" + title + "\" " + dir + "handle");
  ASSERT_NE(echoPeer.handle, 0);
  const uint32_t peerPid = echoPeer.pid;
  const std::string written = peer::WaitForFile(dir + "handle");
  const WindowHandle echo = FindWindow("EchoClass", title);
  ASSERT_NE(echo, 0u);
  EXPECT_EQ(std::to_string(echo), written);
  EXPECT_EQ(GetWindowProcessId(echo), peerPid);

  Receiver r(UniqueTitle("asker"));
  ASSERT_TRUE(r.endpoint);
  const WindowHandle me = r.endpoint->Handle();
  // A post and a send arrive with their numbers; the echo answers with the message + 1.
  ASSERT_TRUE(PostMessage(echo, WM_USER + 5, 123456789012345ULL, 7, me));
  ASSERT_TRUE(SendMessage(echo, WM_USER + 10, 1, 0x8000000000000000ULL, me));
  // Copy data arrives intact, the largest block too.
  std::vector<uint8_t> block(kMaxCopyDataSize);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 3);
  ASSERT_TRUE(SendCopyData(echo, 101, block.data(), block.size(), me));
  ASSERT_TRUE(SendCopyData(echo, 103, "", 0, me));
  ASSERT_TRUE(RestoreWindow(echo));
  ASSERT_TRUE(r.WaitFor(5));
  ASSERT_EQ(r.got.size(), 5u);
  for (const BusMessage& m : r.got) {
    EXPECT_EQ(m.From, echo);
    EXPECT_EQ(m.SenderPid, peerPid);
  }
  EXPECT_EQ(r.got[0].Msg, WM_USER + 6);
  EXPECT_EQ(r.got[0].WParam, 123456789012345ULL);
  EXPECT_EQ(r.got[0].LParam, 7u);
  EXPECT_EQ(r.got[1].Msg, WM_USER + 11);
  EXPECT_EQ(r.got[1].LParam, 0x8000000000000000ULL);
  EXPECT_EQ(r.got[2].kind, BusMessage::Kind::CopyData);
  EXPECT_EQ(r.got[2].Msg, 102u);
  EXPECT_EQ(r.got[2].Data, block);
  EXPECT_EQ(r.got[3].Msg, 104u);
  EXPECT_TRUE(r.got[3].Data.empty());
  EXPECT_EQ(r.got[4].Msg, 5000u + static_cast<uint32_t>(BusMessage::Kind::Restore));
  EXPECT_EQ(r.got[4].WParam, CurrentProcessId());  // the echo saw our pid as the sender

  // A post from a third process, naming us as the sender: the echo answers us.
  peer::Process poster("bus-post " + std::to_string(echo) + " 2000 1 2 " + std::to_string(me));
  int code = -1;
  EXPECT_TRUE(WaitForProcess(poster.handle, 10000, &code));
  EXPECT_EQ(code, 0);
  ASSERT_TRUE(r.WaitFor(6));
  EXPECT_EQ(r.got[5].Msg, 2001u);
  EXPECT_EQ(r.got[5].WParam, 1u);
  EXPECT_EQ(r.got[5].LParam, 2u);

  // Killed without a chance to clean up: never found again, and its files go, a half-written
  // info file among them. One that a live process is writing stays.
  const std::string deadTemp = BusDir() + std::to_string(echo) + ".info.tmp" + std::to_string(peerPid);
  const std::string liveTemp = BusDir() + std::to_string(echo) + ".info.tmp" + std::to_string(CurrentProcessId());
  std::ofstream(deadTemp) << "half";
  std::ofstream(liveTemp) << "half";
  echoPeer.Kill();
  EXPECT_EQ(FindWindow("EchoClass", title), 0u);
  EXPECT_NE(access(deadTemp.c_str(), F_OK), 0);
  EXPECT_EQ(access(liveTemp.c_str(), F_OK), 0);
  unlink(liveTemp.c_str());
  EXPECT_FALSE(IsWindow(echo));
  EXPECT_EQ(GetWindowProcessId(echo), 0u);
  EXPECT_FALSE(PostMessage(echo, 1, 0, 0, me));
  struct stat st;
  EXPECT_NE(stat((BusDir() + std::to_string(echo) + ".info").c_str(), &st), 0);
  EXPECT_NE(stat((BusDir() + std::to_string(echo) + ".sock").c_str(), &st), 0);
}

TEST(MessageBusTest, QuitEndsTheEchoPeer) {
  const std::string dir = peer::ScratchDir("bus");
  const std::string title = UniqueTitle("quit");
  peer::Process echoPeer("bus-echo EchoClass \"" + title + "\" " + dir + "handle");
  ASSERT_NE(echoPeer.handle, 0);
  peer::WaitForFile(dir + "handle");
  const WindowHandle echo = FindWindow("EchoClass", title);
  ASSERT_NE(echo, 0u);
  ASSERT_TRUE(PostMessage(echo, WM_USER + 99, 0, 0));
  int code = -1;
  EXPECT_TRUE(WaitForProcess(echoPeer.handle, 10000, &code));
  EXPECT_EQ(code, 0);
  // A clean exit removed the endpoint itself.
  struct stat st;
  EXPECT_NE(stat((BusDir() + std::to_string(echo) + ".info").c_str(), &st), 0);
}

TEST(MessageBusTest, BurstLargerThanTheKernelQueueArrivesComplete) {
  Receiver r(UniqueTitle("burst"));
  ASSERT_TRUE(r.endpoint);
  const WindowHandle h = r.endpoint->Handle();
  constexpr int kCount = 300;
  // The owner's event loop on its own thread, slower than the sender.
  std::thread owner([&] {
    for (int rounds = 0; r.got.size() < kCount && rounds < 1000; ++rounds) {
      SleepMs(1);
      r.endpoint->Pump(20);
    }
  });
  int failed = 0;
  for (int i = 0; i < kCount; ++i)
    if (!PostMessage(h, WM_USER, static_cast<uint64_t>(i), 0)) ++failed;
  owner.join();
  EXPECT_EQ(failed, 0);
  ASSERT_EQ(r.got.size(), static_cast<std::size_t>(kCount));
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(r.got[i].WParam, static_cast<uint64_t>(i));
}

TEST(MessageBusTest, AWindowThreadNeverWaitsForAFullReceiverAndItsMessagesStillArriveInOrder) {
  Receiver r(UniqueTitle("full"));
  ASSERT_TRUE(r.endpoint);
  const WindowHandle h = r.endpoint->Handle();
  // Far more than the kernel queues for a receiver that does not read (a dozen or so).
  constexpr int kCount = 40;
  SetNonBlockingSends(true);
  const auto begin = std::chrono::steady_clock::now();
  int failed = 0;
  for (int i = 0; i < kCount; ++i)
    if (!PostMessage(h, WM_USER, static_cast<uint64_t>(i), 0)) ++failed;
  const auto spent = std::chrono::steady_clock::now() - begin;
  SetNonBlockingSends(false);
  EXPECT_EQ(failed, 0);
  // A thread that waited would have spent a second on the first message the queue refused.
  EXPECT_LT(spent, std::chrono::milliseconds(900));
  // The owner reads now, and the sender thread is done once everything is out: everything
  // arrives, in the order it was sent.
  std::thread owner([&] {
    for (int rounds = 0; r.got.size() < kCount && rounds < 500; ++rounds) r.endpoint->Pump(20);
  });
  FlushDeferredSends(10000);
  owner.join();
  ASSERT_EQ(r.got.size(), static_cast<std::size_t>(kCount));
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(r.got[i].WParam, static_cast<uint64_t>(i));
}
