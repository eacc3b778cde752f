// The message bus on Unix datagram sockets in a per-user directory.
//
// Each endpoint is a bound datagram socket "<handle>.sock" and an info file
// "<handle>.info" holding the owner's pid, the window class and the title. An endpoint is
// live while its socket is bound by a process: a connect to a socket whose owner has died
// is refused, which also tells a dead endpoint from one whose pid was reused.
//
// Wire format of a datagram (little-endian, packed):
//   u32 magic "VBUS", u16 version 1, u8 kind, u8 reserved 0, u32 from, u32 msg,
//   u64 wparam, u64 lparam, u32 data length, then the data (copy data only).
#include "platform/message_bus.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/debug_output.h"
#include "platform/message_bus_hygiene.h"
#include "platform/process.h"

namespace platform {
namespace {

constexpr uint32_t kMagic = 0x53554256;  // "VBUS" read as a little-endian word
constexpr uint16_t kVersion = 1;
constexpr std::size_t kHeaderSize = 36;

void PutLe(uint8_t* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}
uint64_t GetLe(const uint8_t* in, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
  return value;
}

// The bus directory, created when missing; "" (with a debug line) when it is missing and
// cannot be made, or when it is not safe: another owner, or open to group or others.
std::string BusDirectory() {
  std::string dir;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') {
    dir = std::string(runtime);
    if (dir.back() != '/') dir += '/';
    dir += "vemo-bus";
  } else {
    dir = "/tmp/vemo-bus-" + std::to_string(getuid());
  }
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    OutputDebugString("MessageBus: cannot create " + dir + ": " + std::strerror(errno));
    return std::string();
  }
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    OutputDebugString("MessageBus: " + dir + " is not a directory");
    return std::string();
  }
  if (st.st_uid != getuid() || (st.st_mode & 077) != 0) {
    OutputDebugString("MessageBus: refusing " + dir + ": owned by another user or open to others");
    return std::string();
  }
  return dir + "/";
}

bool MakeAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\0')
      out += "\\0";
    else
      out += c;
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == '0' ? '\0' : c;
  }
  return out;
}

struct EndpointInfo {
  uint32_t pid = 0;
  std::string windowClass;
  std::string title;
};

bool ReadInfo(const std::string& path, EndpointInfo* info) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string pidLine, classLine, titleLine;
  if (!std::getline(in, pidLine) || !std::getline(in, classLine) || !std::getline(in, titleLine)) return false;
  char* end = nullptr;
  unsigned long pid = std::strtoul(pidLine.c_str(), &end, 10);
  if (end == pidLine.c_str() || *end != '\0' || pid == 0 || pid > 0x7fffffffUL) return false;
  info->pid = static_cast<uint32_t>(pid);
  info->windowClass = Unescape(classLine);
  info->title = Unescape(titleLine);
  return true;
}

// Written beside the final name and renamed over it, so that a reader never sees half a file.
bool WriteInfo(const std::string& dir, WindowHandle handle, const EndpointInfo& info) {
  std::string final = dir + std::to_string(handle) + ".info";
  std::string temp = final + ".tmp" + std::to_string(getpid());
  std::string text = std::to_string(info.pid) + "\n" + Escape(info.windowClass) + "\n" + Escape(info.title) + "\n";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), final.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

enum class Liveness { Live, Dead, Unknown };

// Whether some process still has the endpoint's socket bound.
Liveness SocketLiveness(const std::string& socketPath) {
  sockaddr_un addr;
  if (!MakeAddress(socketPath, &addr)) return Liveness::Dead;
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Liveness::Unknown;
  int rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  int err = errno;
  close(fd);
  if (rc == 0) return Liveness::Live;
  if (err == ECONNREFUSED || err == ENOENT || err == ENOTSOCK) return Liveness::Dead;
  return Liveness::Unknown;
}

// The info of a live endpoint; a dead endpoint's files are removed (the info file first,
// so that its handle cannot be taken anew before both are gone).
bool LiveEndpoint(const std::string& dir, WindowHandle handle, EndpointInfo* info) {
  std::string infoPath = dir + std::to_string(handle) + ".info";
  std::string socketPath = dir + std::to_string(handle) + ".sock";
  EndpointInfo read;
  bool haveInfo = ReadInfo(infoPath, &read);
  Liveness socketState = SocketLiveness(socketPath);
  if (socketState == Liveness::Dead || (haveInfo && !IsProcessAlive(read.pid))) {
    if (socketState != Liveness::Live) {
      unlink(infoPath.c_str());
      unlink(socketPath.c_str());
    }
    return false;
  }
  if (!haveInfo) return false;
  if (info != nullptr) *info = read;
  return true;
}

bool ParseHandleName(const char* name, const char* suffix, WindowHandle* handle) {
  char* end = nullptr;
  errno = 0;
  unsigned long value = std::strtoul(name, &end, 10);
  if (errno != 0 || end == name || !std::isdigit(static_cast<unsigned char>(name[0])) ||
      std::strcmp(end, suffix) != 0 || value == 0 || value > 0xffffffffUL)
    return false;
  *handle = static_cast<WindowHandle>(value);
  return true;
}

enum class SendResult { Sent, Full, Failed };

// One datagram to one window: refused at once when the window does not exist; a full queue
// at the receiver (the kernel keeps only a few unread datagrams per socket) is waited for up
// to `waitMs`.
SendResult SendNow(WindowHandle to, const std::vector<uint8_t>& datagram, int waitMs) {
  std::string dir = BusDirectory();
  if (dir.empty()) return SendResult::Failed;
  sockaddr_un addr;
  if (!MakeAddress(dir + std::to_string(to) + ".sock", &addr)) return SendResult::Failed;
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
  std::vector<uint8_t> datagram(kHeaderSize + size);
  uint8_t* p = datagram.data();
  PutLe(p + 0, kMagic, 4);
  PutLe(p + 4, kVersion, 2);
  p[6] = static_cast<uint8_t>(kind);
  p[7] = 0;
  PutLe(p + 8, from, 4);
  PutLe(p + 12, msg, 4);
  PutLe(p + 16, wParam, 8);
  PutLe(p + 24, lParam, 8);
  PutLe(p + 32, size, 4);
  if (size > 0) std::memcpy(p + kHeaderSize, data, size);

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

struct BusEndpoint::Impl {
  std::string dir;
  WindowHandle handle = 0;
  std::string windowClass;
  std::string title;
  Handler handler;
  int fd = -1;
  bus::ForeignDatagrams foreign;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kHeaderSize + kMaxCopyDataSize + 1);

  // One datagram's check and decoding; false (with a debug line) for a malformed one.
  bool Decode(std::size_t length, BusMessage* message) const {
    const uint8_t* p = buffer.data();
    if (length < kHeaderSize) {
      OutputDebugString("MessageBus: short datagram of " + std::to_string(length) + " bytes dropped");
      return false;
    }
    if (GetLe(p, 4) != kMagic || GetLe(p + 4, 2) != kVersion) {
      OutputDebugString("MessageBus: datagram with a bad magic or version dropped");
      return false;
    }
    uint8_t kind = p[6];
    if (kind < static_cast<uint8_t>(BusMessage::Kind::Message) ||
        kind > static_cast<uint8_t>(BusMessage::Kind::Raise)) {
      OutputDebugString("MessageBus: datagram of unknown kind " + std::to_string(kind) + " dropped");
      return false;
    }
    uint64_t dataLength = GetLe(p + 32, 4);
    if (dataLength > kMaxCopyDataSize || dataLength != length - kHeaderSize ||
        (dataLength != 0 && kind != static_cast<uint8_t>(BusMessage::Kind::CopyData))) {
      OutputDebugString("MessageBus: datagram with a wrong data length dropped");
      return false;
    }
    message->kind = static_cast<BusMessage::Kind>(kind);
    message->From = static_cast<WindowHandle>(GetLe(p + 8, 4));
    message->Msg = static_cast<uint32_t>(GetLe(p + 12, 4));
    message->WParam = GetLe(p + 16, 8);
    message->LParam = GetLe(p + 24, 8);
    message->Data.assign(p + kHeaderSize, p + kHeaderSize + dataLength);
    return true;
  }
};

BusEndpoint::BusEndpoint(std::unique_ptr<Impl> impl) : m_Impl(std::move(impl)) {}

std::unique_ptr<BusEndpoint> BusEndpoint::Open(const std::string& windowClass, const std::string& title,
                                               Handler handler) {
  std::string dir = BusDirectory();
  if (dir.empty()) return nullptr;
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    OutputDebugString(std::string("BusEndpoint::Open socket failed: ") + std::strerror(errno));
    return nullptr;
  }
  int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
    OutputDebugString(std::string("BusEndpoint::Open SO_PASSCRED failed: ") + std::strerror(errno));
    close(fd);
    return nullptr;
  }
  // A fresh random handle: bind fails on a name in use, which makes the choice unique.
  WindowHandle handle = 0;
  for (int attempt = 0; attempt < 64 && handle == 0; ++attempt) {
    uint32_t candidate = 0;
    if (getrandom(&candidate, sizeof candidate, 0) != sizeof candidate || candidate == 0) continue;
    sockaddr_un addr;
    if (!MakeAddress(dir + std::to_string(candidate) + ".sock", &addr)) {
      OutputDebugString("BusEndpoint::Open the bus directory path is too long: " + dir);
      close(fd);
      return nullptr;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      handle = candidate;
    } else if (errno != EADDRINUSE) {
      OutputDebugString(std::string("BusEndpoint::Open bind failed: ") + std::strerror(errno));
      close(fd);
      return nullptr;
    }
  }
  if (handle == 0) {
    OutputDebugString("BusEndpoint::Open found no free handle");
    close(fd);
    return nullptr;
  }
  if (!WriteInfo(dir, handle, EndpointInfo{CurrentProcessId(), windowClass, title})) {
    OutputDebugString(std::string("BusEndpoint::Open cannot write the endpoint info: ") + std::strerror(errno));
    unlink((dir + std::to_string(handle) + ".sock").c_str());
    close(fd);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->dir = dir;
  impl->handle = handle;
  impl->windowClass = windowClass;
  impl->title = title;
  impl->handler = std::move(handler);
  impl->fd = fd;
  bus::NoteOpenEndpoint(dir + std::to_string(handle));
  return std::unique_ptr<BusEndpoint>(new BusEndpoint(std::move(impl)));
}

BusEndpoint::~BusEndpoint() {
  bus::ForgetOpenEndpoint(m_Impl->dir + std::to_string(m_Impl->handle));
  unlink((m_Impl->dir + std::to_string(m_Impl->handle) + ".info").c_str());
  unlink((m_Impl->dir + std::to_string(m_Impl->handle) + ".sock").c_str());
  close(m_Impl->fd);
}

WindowHandle BusEndpoint::Handle() const { return m_Impl->handle; }
const std::string& BusEndpoint::Class() const { return m_Impl->windowClass; }
const std::string& BusEndpoint::Title() const { return m_Impl->title; }

void BusEndpoint::SetTitle(const std::string& title) {
  m_Impl->title = title;
  if (!WriteInfo(m_Impl->dir, m_Impl->handle, EndpointInfo{CurrentProcessId(), m_Impl->windowClass, title}))
    OutputDebugString("BusEndpoint::SetTitle cannot write the endpoint info");
}

int BusEndpoint::Fd() const { return m_Impl->fd; }

int BusEndpoint::Dispatch() {
  int handed = 0;
  const uid_t self = getuid();
  for (;;) {
    iovec iov{m_Impl->buffer.data(), m_Impl->buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = recvmsg(m_Impl->fd, &msg, MSG_DONTWAIT | MSG_TRUNC | MSG_CMSG_CLOEXEC);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;  // EAGAIN: nothing more waiting
    }
    const ucred* cred = nullptr;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS && c->cmsg_len >= CMSG_LEN(sizeof(ucred)))
        cred = reinterpret_cast<const ucred*>(CMSG_DATA(c));
    }
    if (cred == nullptr || cred->uid != self) {
      m_Impl->foreign.Dropped(cred != nullptr ? cred->uid : static_cast<uid_t>(-1));
      continue;
    }
    m_Impl->foreign.Report();
    if ((msg.msg_flags & MSG_TRUNC) != 0 || static_cast<std::size_t>(n) > m_Impl->buffer.size() - 1) {
      OutputDebugString("MessageBus: oversized datagram of " + std::to_string(n) + " bytes dropped");
      continue;
    }
    BusMessage message;
    if (!m_Impl->Decode(static_cast<std::size_t>(n), &message)) continue;
    message.SenderPid = static_cast<uint32_t>(cred->pid);
    ++handed;
    if (m_Impl->handler) m_Impl->handler(message);
  }
  return handed;
}

int BusEndpoint::Pump(int timeoutMs) {
  pollfd p{m_Impl->fd, POLLIN, 0};
  int rc;
  do {
    rc = poll(&p, 1, timeoutMs);
  } while (rc < 0 && errno == EINTR);
  return Dispatch();
}

WindowHandle FindWindow(const std::string& windowClass, const std::string& title) {
  std::string dir = BusDirectory();
  if (dir.empty()) return 0;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return 0;
  std::vector<WindowHandle> infos;
  std::vector<WindowHandle> orphanSockets;
  while (dirent* entry = readdir(d)) {
    WindowHandle handle = 0;
    if (ParseHandleName(entry->d_name, ".info", &handle))
      infos.push_back(handle);
    else if (ParseHandleName(entry->d_name, ".sock", &handle))
      orphanSockets.push_back(handle);
  }
  closedir(d);
  WindowHandle found = 0;
  for (WindowHandle handle : infos) {
    EndpointInfo info;
    if (!LiveEndpoint(dir, handle, &info)) continue;
    if ((windowClass.empty() || info.windowClass == windowClass) && (title.empty() || info.title == title)) {
      found = handle;
      break;
    }
  }
  // A socket left without an info file by a process that died while opening it.
  for (WindowHandle handle : orphanSockets) {
    std::string socketPath = dir + std::to_string(handle) + ".sock";
    if (access((dir + std::to_string(handle) + ".info").c_str(), F_OK) != 0 &&
        SocketLiveness(socketPath) == Liveness::Dead)
      unlink(socketPath.c_str());
  }
  return found;
}

bool IsWindow(WindowHandle window) {
  if (window == 0) return false;
  std::string dir = BusDirectory();
  return !dir.empty() && LiveEndpoint(dir, window, nullptr);
}

uint32_t GetWindowProcessId(WindowHandle window) {
  if (window == 0) return 0;
  std::string dir = BusDirectory();
  EndpointInfo info;
  if (dir.empty() || !LiveEndpoint(dir, window, &info)) return 0;
  return info.pid;
}

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
