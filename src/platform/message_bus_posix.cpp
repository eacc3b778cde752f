// A message bus endpoint: a bound datagram socket in the user's bus directory, read on its
// owner's event-loop thread. The files of the bus: message_bus_directory.cpp (the endpoints'
// files, finding windows), message_bus_send.cpp (delivery), message_bus_wire.cpp (the
// datagram format) and message_bus_hygiene.cpp (cleaning up, other users' datagrams).
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/debug_output.h"
#include "platform/message_bus.h"
#include "platform/message_bus_hygiene.h"
#include "platform/message_bus_internal.h"
#include "platform/process.h"

namespace platform {

using bus::EndpointInfo;
using bus::kHeaderSize;
using bus::MakeAddress;
using bus::WriteInfo;

struct BusEndpoint::Impl {
  std::string dir;
  WindowHandle handle = 0;
  std::string windowClass;
  std::string title;
  Handler handler;
  int fd = -1;
  bus::ForeignDatagrams foreign;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kHeaderSize + kMaxCopyDataSize + 1);
};

BusEndpoint::BusEndpoint(std::unique_ptr<Impl> impl) : m_Impl(std::move(impl)) {}

std::unique_ptr<BusEndpoint> BusEndpoint::Open(const std::string& windowClass, const std::string& title,
                                               Handler handler) {
  std::string dir = bus::Directory();
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
    if (!bus::Decode(m_Impl->buffer.data(), static_cast<std::size_t>(n), &message)) continue;
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

}  // namespace platform
