// Delivery on the message bus: one datagram to one window's socket, waiting a while for a
// full receiver, and the sender thread that waits in place of window threads.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/debug_output.h"
#include "platform/message_bus_internal.h"

namespace platform {
namespace {

enum class SendResult { Sent, Full, Failed };

// One datagram to one window: refused at once when the window does not exist; a full queue
// at the receiver (the kernel keeps only a few unread datagrams per socket) is waited for up
// to `waitMs`.
SendResult SendNow(WindowHandle to, const std::vector<uint8_t>& datagram, int waitMs) {
  std::string dir = bus::Directory();
  if (dir.empty()) return SendResult::Failed;
  sockaddr_un addr;
  if (!bus::MakeAddress(dir + std::to_string(to) + ".sock", &addr)) return SendResult::Failed;
  // Connected, so that a full queue can be waited for instead of losing the message.
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return SendResult::Failed;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return SendResult::Failed;  // no such window, or its owner is gone
  }
  SendResult result = SendResult::Failed;
  for (int waited = 0;;) {
    ssize_t sent = send(fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) {
      result = sent == static_cast<ssize_t>(datagram.size()) ? SendResult::Sent : SendResult::Failed;
      break;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) break;
    if (waited >= waitMs) {
      result = SendResult::Full;
      break;
    }
    pollfd p{fd, POLLOUT, 0};
    poll(&p, 1, 50);
    waited += 50;
  }
  close(fd);
  return result;
}

constexpr int kQueueWaitMs = 1000;

void ReportDrop(WindowHandle to) {
  OutputDebugString("MessageBus: the queue of window " + std::to_string(to) + " stays full; message dropped");
}

// The sender thread of window threads: delivers, in order, what their receivers could not
// take at once. Made on first use and kept for the process's life (never destroyed, so that
// no datagram is handed to a queue that is going away while the process ends).
class DeferredSender {
 public:
  static DeferredSender& Instance() {
    static DeferredSender* instance = new DeferredSender();
    return *instance;
  }

  // True when datagrams to `to` wait here: later ones must queue behind them.
  bool HasPending(WindowHandle to) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    auto it = m_Pending.find(to);
    return it != m_Pending.end() && it->second > 0;
  }

  // Waits until nothing is queued or in delivery, or `timeoutMs` has passed.
  void Flush(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_Pending.empty(); });
  }

  // False when too much waits already (the datagram is dropped with a debug line).
  bool Queue(WindowHandle to, std::vector<uint8_t> datagram) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Queue.size() >= kMaxQueued) {
      OutputDebugString("MessageBus: " + std::to_string(kMaxQueued) + " messages wait for full windows; message to " +
                        std::to_string(to) + " dropped");
      return false;
    }
    if (!m_Thread.joinable()) m_Thread = std::thread([this] { Run(); });
    m_Queue.push_back({to, std::move(datagram)});
    ++m_Pending[to];
    m_Wake.notify_one();
    return true;
  }

 private:
  static constexpr std::size_t kMaxQueued = 4096;
  struct Item {
    WindowHandle to;
    std::vector<uint8_t> datagram;
  };

  DeferredSender() = default;

  void Run() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    for (;;) {
      m_Wake.wait(lock, [this] { return !m_Queue.empty(); });
      Item item = std::move(m_Queue.front());
      m_Queue.pop_front();
      lock.unlock();
      if (SendNow(item.to, item.datagram, kQueueWaitMs) == SendResult::Full) ReportDrop(item.to);
      lock.lock();
      if (--m_Pending[item.to] == 0) m_Pending.erase(item.to);
      if (m_Pending.empty()) m_Idle.notify_all();
    }
  }

  std::mutex m_Mutex;
  std::condition_variable m_Wake;
  std::condition_variable m_Idle;
  std::deque<Item> m_Queue;
  std::map<WindowHandle, int> m_Pending;  // datagrams queued per window
  std::thread m_Thread;
};

thread_local bool t_NonBlockingSends = false;

bool SendDatagram(WindowHandle to, BusMessage::Kind kind, WindowHandle from, uint32_t msg, uint64_t wParam,
                  uint64_t lParam, const void* data, std::size_t size) {
  if (to == 0) return false;
  if (size > kMaxCopyDataSize || (size > 0 && data == nullptr)) {
    OutputDebugString("MessageBus: copy data of " + std::to_string(size) + " bytes refused");
    return false;
  }
  std::vector<uint8_t> datagram = bus::Encode(kind, from, msg, wParam, lParam, data, size);

  if (!t_NonBlockingSends) {
    SendResult result = SendNow(to, datagram, kQueueWaitMs);
    if (result == SendResult::Full) ReportDrop(to);
    return result == SendResult::Sent;
  }
  // A window thread: never wait. Behind datagrams already waiting for that window, or when
  // its queue is full, the sender thread takes over.
  DeferredSender& sender = DeferredSender::Instance();
  if (!sender.HasPending(to)) {
    SendResult result = SendNow(to, datagram, 0);
    if (result != SendResult::Full) return result == SendResult::Sent;
  }
  return sender.Queue(to, std::move(datagram));
}

}  // namespace

void SetNonBlockingSends(bool never) { t_NonBlockingSends = never; }

void FlushDeferredSends(int timeoutMs) { DeferredSender::Instance().Flush(timeoutMs); }

bool PostMessage(WindowHandle to, uint32_t msg, uint64_t wParam, uint64_t lParam, WindowHandle from) {
  return SendDatagram(to, BusMessage::Kind::Message, from, msg, wParam, lParam, nullptr, 0);
}

bool SendMessage(WindowHandle to, uint32_t msg, uint64_t wParam, uint64_t lParam, WindowHandle from) {
  return SendDatagram(to, BusMessage::Kind::Message, from, msg, wParam, lParam, nullptr, 0);
}

bool SendCopyData(WindowHandle to, uint32_t number, const void* data, std::size_t size, WindowHandle from) {
  return SendDatagram(to, BusMessage::Kind::CopyData, from, number, 0, 0, data, size);
}

bool ShowWindow(WindowHandle window) { return SendDatagram(window, BusMessage::Kind::Show, 0, 0, 0, 0, nullptr, 0); }
bool MinimizeWindow(WindowHandle window) {
  return SendDatagram(window, BusMessage::Kind::Minimize, 0, WM_SYSCOMMAND, SC_MINIMIZE, 0, nullptr, 0);
}
bool RestoreWindow(WindowHandle window) {
  return SendDatagram(window, BusMessage::Kind::Restore, 0, WM_SYSCOMMAND, SC_RESTORE, 0, nullptr, 0);
}
bool SetForegroundWindow(WindowHandle window) {
  return SendDatagram(window, BusMessage::Kind::Raise, 0, 0, 0, 0, nullptr, 0);
}

}  // namespace platform
