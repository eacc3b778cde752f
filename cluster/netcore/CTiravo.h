// The network core "Tiravo.dll": the status link's TCP client with an I/O thread of its own.
//
// Every message is one frame of the packet layer (FF CC, u32 length, no checksum) whose
// payload is the 9-byte packet head followed by the body. The core connects on request,
// reconnects after a drop with capped exponential back-off and asks for a login after every
// reconnection (the link logs in by itself after its first connect), takes sends from any
// thread at once, and queues received messages for the request thread within fixed bounds:
// a peer that sends faster than the manager reads, reads slower than the manager answers,
// or sends a frame that breaks the stream, is dropped (and reconnected) instead of growing
// the manager's memory. Host names are resolved on the I/O thread, within the connect
// timeout. No exception leaves the core: a failure of the system (no descriptors, no
// memory) is logged and reported as a failed operation.
//
// The framer, the filling of a received packet and the log object are the host program's own:
// the program hands them over (SetTiravoHost, tagTiravoHost); the library binds nothing of it.
#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "FrameReader.h"
#include "interfaces/ITiravo.h"

namespace netcore {

// The program's table, once handed over; null before.
const tagTiravoHost* TiravoHost();

// The bounds and timings of the core, in one place.
struct TiravoLimits {
  // The largest message (head and body) the status server may send.
  static constexpr std::size_t kMaxRecvMessage = 1024 * 1024;
  // The receive queue: past either bound the peer is dropped as a flood.
  static constexpr std::size_t kMaxRecvMessages = 10000;
  static constexpr std::size_t kMaxRecvBytes = 16 * 1024 * 1024;
  // Framed bytes waiting behind the write under way; past it the peer is dropped as one
  // that does not read its replies. A single message larger than this is taken when nothing
  // else waits.
  static constexpr std::size_t kMaxSendBacklog = 16 * 1024 * 1024;
  static constexpr int kConnectTimeoutMs = 3000;
  static constexpr int kFirstRetryMs = 250;
  static constexpr int kMaxRetryMs = 5000;
  // A connection that lasted this long starts the back-off afresh when it drops.
  static constexpr int kStableConnectionMs = 10000;
};

class CTiravo final : public ITiravo {
 public:
  CTiravo();
  ~CTiravo();
  CTiravo(const CTiravo&) = delete;
  CTiravo& operator=(const CTiravo&) = delete;

  // Starts the I/O thread (Connect does too); 1.
  int Start() override;
  // Resolves and connects within kConnectTimeoutMs (both on the I/O thread) and waits for
  // the outcome; true when connected (at once when already connected to the same address).
  // Another address replaces the connection. A good connection is kept up until Stop; a
  // failed Connect leaves none.
  bool Connect(const char* ip, int port) override;
  // Nothing to do: the I/O thread already runs. 1.
  int Resume() override;
  // Closes the connection, ends reconnecting and forgets what was received; 1.
  int Stop() override;
  bool IsConnected() override;
  // Set by every reconnection; the first connection of a Connect leaves it clear, since the
  // caller of Connect sends its login itself.
  bool NeedLogin() override;
  void ClearNeedLogin() override;
  // Queues the frame of head (exactly 9 bytes) and body for the I/O thread; false without
  // a connection, for a malformed message, or when the peer is too far behind (it is then
  // dropped and reconnected).
  bool SendPack(const char* head, int headLen, const char* body, int bodyLen) override;
  bool PopRecvPack(MMORPG::MMORPGPacket* packet) override;
  int GetRecvCount() override;
  // Stops and ends the I/O thread; a later Connect starts it again.
  void Shutdown() override;

 private:
  struct Connection;
  using ConnectionPtr = std::shared_ptr<Connection>;
  // The outcome of one Connect, given once (a timeout and a late completion may both try).
  struct Outcome {
    std::promise<bool> Promise;
    bool Given = false;
    void Give(bool connected) {
      if (Given) return;
      Given = true;
      Promise.set_value(connected);
    }
  };
  using OutcomePtr = std::shared_ptr<Outcome>;

  // Starts the I/O thread when it is not running; under m_LifeMutex. Throws what the
  // system refuses (descriptors, threads); the public operations catch it.
  void EnsureThread();
  // Logs an exception caught at the edge of the core, naming the operation.
  static void LogCaught(const char* operation);
  // The I/O thread's body: runs the context until nothing is left to do.
  void RunIoThread(const std::shared_ptr<std::promise<void>>& finished);
  // Runs `work` on the I/O thread and waits for it; under m_LifeMutex.
  void RunOnIoThread(std::function<void()> work);

  // I/O thread only.
  void StartConnect(const std::string& host, int port, const OutcomePtr& done);
  void BeginConnect(bool reconnecting, OutcomePtr done);
  void OnConnected(const ConnectionPtr& connection, bool reconnecting, std::error_code error, OutcomePtr done);
  void StartRead(const ConnectionPtr& connection);
  void OnRead(const ConnectionPtr& connection, std::error_code error, std::size_t size);
  void StartWrite();
  void OnWritten(const ConnectionPtr& connection, std::error_code error);
  // Closes the connection after a fault and, while it is wanted, schedules the reconnect;
  // one log line with the reason.
  void Drop(const std::string& reason);
  // Arms the reconnect timer; returns the delay in ms and doubles the next one (capped).
  int ScheduleReconnect();
  void CloseConnection();
  static bool QueueMessage(void* self, std::string_view message);

  // PopRecvPack's work: moves the oldest received message into the packet.
  bool PopInto(MMORPG::MMORPGPacket* packet);
  // Empties the receive queue; returns how many messages it held.
  std::size_t ClearReceived();
  std::string PeerText() const;

  // Serialises the operations that start, stop and end the I/O thread.
  std::mutex m_LifeMutex;
  std::unique_ptr<asio::io_context> m_Io;  // while the I/O thread runs
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> m_WorkGuard;
  std::thread m_Thread;
  std::future<void> m_ThreadFinished;
  std::atomic<std::thread::id> m_IoThreadId{};

  // I/O thread only (and the life operations while it waits for them).
  std::optional<asio::steady_timer> m_RetryTimer;
  std::optional<asio::steady_timer> m_ConnectTimer;
  std::optional<asio::ip::tcp::resolver> m_Resolver;
  ConnectionPtr m_Connection;
  uint64_t m_Serial = 0;  // of the current connection; counts every connection made
  std::string m_Host;
  int m_Port = 0;
  bool m_Wanted = false;         // keep the connection up: set by a good Connect, cleared by Stop
  bool m_RetryReported = false;  // one log line per series of failed reconnects
  int m_RetryMs = TiravoLimits::kFirstRetryMs;
  std::chrono::steady_clock::time_point m_ConnectedSince;
  std::unique_ptr<FrameReader> m_Reader;
  bool m_Flooded = false;
  std::minstd_rand m_Random;

  std::atomic<bool> m_Connected{false};
  std::atomic<bool> m_NeedLogin{false};

  // Sends: framed bytes waiting for the I/O thread, and whether a write is under way.
  std::mutex m_SendMutex;
  IPackageDispatcher* m_PackFramer = nullptr;
  FreePackageDispatcherFunc m_FreePackFramer = nullptr;
  std::string m_SendScratch;
  std::string m_Outbox;
  bool m_WriteActive = false;
  bool m_SendOpen = false;    // true while a connection takes sends
  uint64_t m_SendSerial = 0;  // the connection that takes them

  // Received messages (head and body each), oldest first.
  std::mutex m_RecvMutex;
  std::deque<std::string> m_Received;
  std::size_t m_ReceivedBytes = 0;
};

}  // namespace netcore
