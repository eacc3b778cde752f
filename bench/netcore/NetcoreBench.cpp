// A status request's round trip through the real network core on loopback, measured where
// the status server sees it: from writing a base information request to having read the
// whole reply. The manager's side is a thread that polls the core as the request thread
// does: sleeping 2 ms when nothing waits (the product's rhythm), or only yielding (the core's
// own share of the time). Requests leave at random moments (a pause of 0 to 3 ms between
// them, not measured), as a status server's do, so that they do not fall into step with the
// polling. Reported: p50 and p99 in milliseconds.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "components/LogComponent.h"
#include "interfaces/IPackageDispatcher.h"
#include "interfaces/ITiravo.h"
#include "interfaces/MMORPGPacket.h"
#include "interfaces/SilentLog.h"
#include "platform/library.h"
#include "statuslink/NetCore.h"

namespace {

SilentLog g_Log;
const bool g_LogSet = (SetLogObjectForTesting(&g_Log), true);

ITiravo* LoadCore() {
  platform::Library library("Tiravo.dll");
  if (auto setHost = library.Resolve<SetTiravoHostFunc>("SetTiravoHost")) setHost(NetCoreHost());
  auto get = library.Resolve<GetTiravoFunc>("GetTiravo");
  library.KeepLoaded();
  return get != nullptr ? get() : nullptr;
}

// The status server's end: a listening socket and the accepted connection.
struct ServerEnd {
  ServerEnd() {
    listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 1);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ~ServerEnd() {
    if (connection >= 0) close(connection);
    close(listener);
  }
  void Accept() {
    connection = accept(listener, nullptr, nullptr);
    const int on = 1;
    setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  bool ReadExactly(char* out, std::size_t size) {
    for (std::size_t got = 0; got < size;) {
      const ssize_t n = recv(connection, out + got, size - got, 0);
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    return true;
  }
  int listener = -1;
  int connection = -1;
  int port = 0;
};

// The manager's request thread, reduced to the polling and an answer per request.
void AnswerRequests(ITiravo* core, std::atomic<bool>& running, bool sleepWhenIdle) {
  MMORPG::MMORPGPacket packet;
  const std::string reply("\x05\x01\x00\x00\x00\x00\x00", 7);
  while (running.load()) {
    if (core->GetRecvCount() == 0) {
      if (sleepWhenIdle)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      else
        std::this_thread::yield();
      continue;
    }
    while (core->PopRecvPack(&packet)) {
      MMORPG::tagPackHead head{};
      head.EchoTag = packet.m_PackHead.EchoTag;
      head.DestServerType = 13;
      head.SrcServerType = 13;
      core->SendPack(reinterpret_cast<const char*>(&head), sizeof head, reply.data(), static_cast<int>(reply.size()));
    }
  }
}

void BM_RequestRoundTrip(benchmark::State& state) {
  ITiravo* core = LoadCore();
  if (core == nullptr) {
    state.SkipWithError("Tiravo.dll cannot be loaded");
    return;
  }
  ServerEnd server;
  if (!core->Connect("127.0.0.1", server.port)) {
    state.SkipWithError("no connection");
    return;
  }
  server.Accept();
  std::atomic<bool> running{true};
  std::thread manager(AnswerRequests, core, std::ref(running), state.range(0) != 0);

  IPackageDispatcher* framer = NewPackageDispatcher();
  std::vector<double> samples;
  uint16_t echo = 0;
  std::minstd_rand random(12345);
  std::uniform_int_distribution<int> pauseUs(0, 3000);
  char frame[64];
  char replyFrame[6 + 9 + 7];
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random)));
    MMORPG::tagPackHead head{};
    head.EchoTag = ++echo;
    head.DestServerType = 13;
    head.SrcServerType = 13;
    std::string content(reinterpret_cast<const char*>(&head), sizeof head);
    content += std::string("\x06\x01", 2);
    const int length = framer->PackData(content.data(), static_cast<int>(content.size()), frame, sizeof frame);
    const auto start = std::chrono::steady_clock::now();
    send(server.connection, frame, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    if (!server.ReadExactly(replyFrame, sizeof replyFrame)) {
      state.SkipWithError("connection lost");
      break;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    samples.push_back(seconds * 1000.0);
  }
  FreePackageDispatcher(framer);
  running = false;
  manager.join();
  core->Stop();
  core->Shutdown();

  if (!samples.empty()) {
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) {
      return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * samples.size()))];
    };
    state.counters["p50_ms"] = at(0.50);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = samples.back();
  }
}
// 1: the request thread's 2 ms sleep between empty polls; 0: only a yield.
BENCHMARK(BM_RequestRoundTrip)->Arg(1)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2000);

}  // namespace

BENCHMARK_MAIN();
