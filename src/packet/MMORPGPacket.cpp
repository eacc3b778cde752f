#include "interfaces/MMORPGPacket.h"

#include <algorithm>
#include <cstring>

#include "common/Utils.h"
#include "packet/PacketLog.h"

namespace MMORPG {

std::atomic<int32_t> MMORPGPacket::m_Count{0};

namespace {
// A recycled packet keeps its data buffer so that the next message costs no allocation;
// one that held an unusually large body gives the memory back instead of keeping it for
// the life of the pool.
constexpr std::size_t kKeptDataCapacity = 64 * 1024;
}  // namespace

MMORPGPacket::MMORPGPacket() : m_Dispatcher(NewPackageDispatcher()), m_PackHead{} {
  Reset();
  m_AttrC = 1;
  m_InUse = 0;
}

MMORPGPacket::~MMORPGPacket() { FreePackageDispatcher(m_Dispatcher); }

void MMORPGPacket::Reset() {
  if (m_Data.capacity() > kKeptDataCapacity)
    std::string().swap(m_Data);
  else
    m_Data.clear();
  m_AttrA = 0;
  m_AttrB = 0;
  m_IsRaw = 0;
  m_AttrD = 0;
  m_AttrE = 0;
  m_InUse = 0;
}

int MMORPGPacket::ReadData(const char* lpData, int Len) {
  if (Len < 0) {
    packet::Log()->LogError("MMORPGPacket::ReadData(char *lpData, int Len), Len = %d", Len);
    return Len;
  }
  if (Len == 0) {
    m_Data.clear();
    return 0;
  }
  if (lpData == nullptr) {
    packet::Log()->LogError("MMORPGPacket::ReadData(char *lpData, int Len), lpData = NULL, Len = %d", Len);
    return 0;
  }
  m_Data.assign(lpData, static_cast<std::size_t>(Len));
  return Len;
}

int MMORPGPacket::SetHead(const char* bytes, int len) {
  if (bytes == nullptr) {
    m_PackHead = tagPackHead{};
    packet::Log()->LogWarn("Error in tagPackHead : %s ", "NULL");
    return sizeof(tagPackHead);
  }
  // Read through a copy: the bytes may be this packet's own head (a packet copied onto
  // itself), which zeroing first would wipe out.
  tagPackHead head{};
  std::memcpy(&head, bytes, sizeof(tagPackHead));
  m_PackHead = head;
  if (len != 0 && len != static_cast<int>(sizeof(tagPackHead))) {
    // A negative length vouches for nothing beyond the head itself.
    const std::size_t dumped = len > 0 ? static_cast<std::size_t>(len) : sizeof(tagPackHead);
    packet::Log()->LogWarn("Error in tagPackHead : %s ", HexText(bytes, dumped).c_str());
  }
  return sizeof(tagPackHead);
}

void MMORPGPacket::Copy(MMORPGPacket* dst, const MMORPGPacket* src) {
  if (dst == nullptr) return;
  if (src == nullptr) {
    dst->Reset();
    return;
  }
  dst->SetHead(reinterpret_cast<const char*>(&src->m_PackHead), sizeof(tagPackHead));
  dst->m_AttrE = src->m_AttrE;
  dst->m_AttrA = src->m_AttrA;
  dst->m_AttrB = src->m_AttrB;
  dst->m_IsRaw = src->m_IsRaw;
  dst->m_AttrD = src->m_AttrD;
  dst->m_AttrE = src->m_AttrE;
  dst->m_AttrC = src->m_AttrC;
  dst->ReadData(src->m_Data.data(), static_cast<int>(src->m_Data.size()));
}

std::string MMORPGPacket::GetSendData() {
  m_Dispatcher->ClearBuffer();
  std::string content;
  if (m_IsRaw) {
    content = m_Data;
  } else {
    if (m_PackHead.DestServerType <= stMin || m_PackHead.DestServerType >= stMax)
      packet::Log()->LogWarn(
          "MMORPGPacket::GetSendData  m_PackHead.DestServerType <= stMin || m_PackHead.DestServerType >= stMax  , "
          "packType=%d",
          m_PackHead.PackType);
    if (m_PackHead.SrcServerType <= stMin || m_PackHead.SrcServerType >= stMax)
      packet::Log()->LogWarn(
          "MMORPGPacket::GetSendData  m_PackHead.SrcServerType <= stMin || m_PackHead.SrcServerType >= stMax  , "
          "packType=%d",
          m_PackHead.PackType);
    content.reserve(sizeof(tagPackHead) + m_Data.size());
    content.append(reinterpret_cast<const char*>(&m_PackHead), sizeof(tagPackHead));
    content.append(m_Data);
  }
  const int64_t bufferSize = static_cast<int64_t>(m_Dispatcher->GetPackHeadLen()) +
                             static_cast<int64_t>(content.size()) + m_Dispatcher->GetCrcLen();
  if (bufferSize > INT32_MAX) {
    packet::Log()->LogError("MMORPGPacket::GetSendData  data too long: %lld bytes",
                            static_cast<long long>(content.size()));
    return std::string();
  }
  std::string buffer(static_cast<std::size_t>(bufferSize), '\0');
  const int written = m_Dispatcher->PackData(content.data(), static_cast<int>(content.size()), buffer.data(),
                                             static_cast<int>(bufferSize));
  buffer.resize(static_cast<std::size_t>(written));
  return buffer;
}

}  // namespace MMORPG
