// The network core's receiving and sending: the read loop and its bounded queue, the
// packets handed to the request thread, and the framed sends with their backlog bound.
#include <algorithm>
#include <asio/post.hpp>
#include <asio/write.hpp>
#include <cstdio>

#include "CTiravo.h"
#include "TiravoParts.h"

namespace netcore {

// ---------------------------------------------------------------------------------------------
// Receiving.

void CTiravo::StartRead(const ConnectionPtr& connection) {
  connection->Socket.async_read_some(
      asio::buffer(connection->ReadBuffer),
      [this, connection](std::error_code error, std::size_t size) { OnRead(connection, error, size); });
}

void CTiravo::OnRead(const ConnectionPtr& connection, std::error_code error, std::size_t size) {
  if (m_Connection != connection) return;
  if (error) {
    Drop(error == asio::error::eof ? std::string("closed by the peer") : error.message());
    return;
  }
  if (!m_Reader->Feed(std::string_view(connection->ReadBuffer, size), &CTiravo::QueueMessage, this)) {
    if (m_Flooded) {
      std::size_t count = 0;
      std::size_t bytes = 0;
      {
        std::lock_guard<std::mutex> lock(m_RecvMutex);
        count = m_Received.size();
        bytes = m_ReceivedBytes;
      }
      char why[200];
      std::snprintf(why, sizeof why,
                    "the peer sends faster than the manager reads: %zu messages of %zu bytes wait "
                    "(at most %zu messages, %zu bytes)",
                    count, bytes, TiravoLimits::kMaxRecvMessages, TiravoLimits::kMaxRecvBytes);
      Drop(why);
    } else {
      Drop("bad frame: " + m_Reader->Error());
    }
    return;
  }
  StartRead(connection);
}

bool CTiravo::QueueMessage(void* self, std::string_view message) {
  auto* core = static_cast<CTiravo*>(self);
  std::lock_guard<std::mutex> lock(core->m_RecvMutex);
  if (core->m_Received.size() >= TiravoLimits::kMaxRecvMessages ||
      core->m_ReceivedBytes + message.size() > TiravoLimits::kMaxRecvBytes) {
    core->m_Flooded = true;
    return false;
  }
  core->m_Received.emplace_back(message);
  core->m_ReceivedBytes += message.size();
  return true;
}

std::size_t CTiravo::ClearReceived() {
  std::lock_guard<std::mutex> lock(m_RecvMutex);
  const std::size_t count = m_Received.size();
  std::deque<std::string>().swap(m_Received);
  m_ReceivedBytes = 0;
  return count;
}

bool CTiravo::PopRecvPack(MMORPG::MMORPGPacket* packet) {
  if (packet == nullptr) return false;
  try {
    return PopInto(packet);
  } catch (...) {
    LogCaught("PopRecvPack");
    return false;
  }
}

bool CTiravo::PopInto(MMORPG::MMORPGPacket* packet) {
  const tagTiravoHost* host = TiravoHost();
  if (host == nullptr || host->FillPacket == nullptr) return false;
  std::string message;
  {
    std::lock_guard<std::mutex> lock(m_RecvMutex);
    if (m_Received.empty()) return false;
    message = std::move(m_Received.front());
    m_Received.pop_front();
    m_ReceivedBytes -= message.size();
  }
  // The reader admits no message shorter than its head.
  host->FillPacket(packet, message.data(), message.data() + kMessageHeadLen,
                   static_cast<int>(message.size() - kMessageHeadLen));
  return true;
}

int CTiravo::GetRecvCount() {
  std::lock_guard<std::mutex> lock(m_RecvMutex);
  return static_cast<int>(m_Received.size());
}

bool CTiravo::IsConnected() { return m_Connected.load(); }

bool CTiravo::NeedLogin() { return m_NeedLogin.load(); }

void CTiravo::ClearNeedLogin() { m_NeedLogin.store(false); }

// ---------------------------------------------------------------------------------------------
// Sending.

bool CTiravo::SendPack(const char* head, int headLen, const char* body, int bodyLen) {
  if (head == nullptr || headLen != static_cast<int>(kMessageHeadLen) || bodyLen < 0 ||
      (body == nullptr && bodyLen > 0)) {
    TiravoLog()->LogError("CTiravo::SendPack bad message: head = %p, headLen = %d, body = %p, bodyLen = %d",
                          static_cast<const void*>(head), headLen, static_cast<const void*>(body), bodyLen);
    return false;
  }
  const std::size_t content = kMessageHeadLen + static_cast<std::size_t>(bodyLen);
  if (content + kFrameHeadLen > kMaxFrameLen) {
    TiravoLog()->LogError("CTiravo::SendPack a message of %zu bytes does not fit one frame", content);
    return false;
  }
  bool startWrite = false;
  bool refused = false;
  uint64_t serial = 0;
  std::size_t waiting = 0;
  std::lock_guard<std::mutex> lock(m_SendMutex);
  try {
    if (!m_SendOpen) return false;
    // One message of any size a frame holds is taken when nothing else waits (a large log
    // reply); behind it, at most the bound.
    if (!m_Outbox.empty() && m_Outbox.size() + content + kFrameHeadLen > TiravoLimits::kMaxSendBacklog) {
      // The peer does not read what it asked for: it is dropped (and reconnected) instead of
      // the manager holding its replies. Nothing more is taken for this connection.
      refused = true;
      m_SendOpen = false;
      serial = m_SendSerial;
      waiting = m_Outbox.size();
      m_Outbox.clear();
      ReleaseIfLarge(m_Outbox);
    } else {
      if (m_PackFramer == nullptr) {
        const tagTiravoHost* host = TiravoHost();
        if (host == nullptr || host->NewPackageDispatcher == nullptr || host->FreePackageDispatcher == nullptr)
          return false;  // no framer: nothing can be sent
        m_PackFramer = host->NewPackageDispatcher();
        if (m_PackFramer == nullptr) return false;
        m_FreePackFramer = host->FreePackageDispatcher;
      }
      m_SendScratch.assign(head, kMessageHeadLen);
      m_SendScratch.append(body, static_cast<std::size_t>(bodyLen));
      const std::size_t start = m_Outbox.size();
      const int frameLen = m_PackFramer->GetPackHeadLen() + static_cast<int>(content) + m_PackFramer->GetCrcLen();
      m_Outbox.resize(start + static_cast<std::size_t>(frameLen));
      const int written =
          m_PackFramer->PackData(m_SendScratch.data(), static_cast<int>(content), m_Outbox.data() + start, frameLen);
      m_Outbox.resize(start + static_cast<std::size_t>(std::max(written, 0)));
      ReleaseIfLarge(m_SendScratch);
      if (written <= 0) return false;  // the framer has written its own log line
      if (!m_WriteActive) {
        m_WriteActive = true;
        startWrite = true;
      }
    }
    if (refused) {
      asio::post(*m_Io, [this, serial, waiting] {
        if (m_Connection == nullptr || m_Serial != serial) return;  // dropped meanwhile
        char why[160];
        std::snprintf(why, sizeof why, "the peer reads too slowly: %zu bytes of replies wait to be sent (at most %zu)",
                      waiting, TiravoLimits::kMaxSendBacklog);
        Drop(why);
      });
      return false;
    }
    if (startWrite) asio::post(*m_Io, [this] { StartWrite(); });
    return true;
  } catch (...) {
    LogCaught("SendPack");
    return false;
  }
}

void CTiravo::StartWrite() {
  ConnectionPtr connection = m_Connection;
  {
    std::lock_guard<std::mutex> lock(m_SendMutex);
    if (!connection || !m_SendOpen || m_Outbox.empty()) {
      m_WriteActive = false;
      return;
    }
    connection->Writing.clear();
    std::swap(connection->Writing, m_Outbox);
  }
  asio::async_write(connection->Socket, asio::buffer(connection->Writing),
                    [this, connection](std::error_code error, std::size_t) { OnWritten(connection, error); });
}

void CTiravo::OnWritten(const ConnectionPtr& connection, std::error_code error) {
  if (m_Connection != connection) return;
  if (error) {
    Drop("write failed: " + error.message());
    return;
  }
  ReleaseIfLarge(connection->Writing);
  StartWrite();
}

}  // namespace netcore
