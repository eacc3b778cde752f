#include "packet/VmPackageDispatcher.h"

#include <cstring>

#include "common/Utils.h"
#include "packet/PacketLog.h"

namespace {

uint16_t LoadLe16(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t LoadLe32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
         (static_cast<uint32_t>(b[3]) << 24);
}

void StoreLe16(char* p, uint16_t value) {
  p[0] = static_cast<char>(value & 0xFF);
  p[1] = static_cast<char>(value >> 8);
}

void StoreLe32(char* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Clears the re-entrancy mark however PushData is left (the checksum error leaves by
// an exception).
struct PushScope {
  explicit PushScope(bool& flag) : m_Flag(flag), m_Was(flag) { m_Flag = true; }
  ~PushScope() { m_Flag = m_Was; }
  bool& m_Flag;
  bool m_Was;
};

}  // namespace

void VmPackageDispatcher::SetFilterFunc(PackFilterFunc func, void* user) {
  m_FilterFunc = func;
  m_FilterUser = user;
}

void VmPackageDispatcher::SetPackFunc(PackFunc func, void* user) {
  m_PackFunc = func;
  m_PackUser = user;
}

void VmPackageDispatcher::SetInfoFunc(PackInfoFunc func, void* user) {
  m_InfoFunc = func;
  m_InfoUser = user;
}

void VmPackageDispatcher::SetErrorFunc(PackErrorFunc func, void* user) {
  m_ErrorFunc = func;
  m_ErrorUser = user;
}

void VmPackageDispatcher::ClearBuffer() { m_CarryOver.clear(); }

int VmPackageDispatcher::GetPackHeadLen() { return HeadLen(); }

void VmPackageDispatcher::SetLenMode(int mode) { m_LenMode = mode; }

int VmPackageDispatcher::GetCrcLen() { return CrcLen(); }

void VmPackageDispatcher::SetCrcCheck(bool check) { m_CrcCheck = check; }

bool VmPackageDispatcher::GetCrcCheck() { return m_CrcCheck; }

namespace {

// The refusals of PackData, kept out of line so that packing stays a short call.
[[gnu::cold, gnu::noinline]] int RefuseBadArguments(const char* data, int len, char* buf, int maxBuff) {
  packet::Log()->LogFatal("VmPackageDispatcher::PackData bad arguments: data = %p, len = %d, buf = %p, maxBuff = %d",
                          static_cast<const void*>(data), len, static_cast<void*>(buf), maxBuff);
  return 0;
}

[[gnu::cold, gnu::noinline]] int RefuseShortLength(int64_t totalPackLen) {
  packet::Log()->LogFatal("VmPackageDispatcher::PackData totalPackLen(%lld) > %d in 16-bit length mode",
                          static_cast<long long>(totalPackLen), VmPackageDispatcher::kMaxShortLen);
  return 0;
}

[[gnu::cold, gnu::noinline]] int RefuseSmallBuffer(int headLen, int64_t totalPackLen, int maxBuff) {
  packet::Log()->LogFatal("VmPackageDispatcher::PackData packHeadLen(%d) + totalPackLen(%d) > maxBuff(%d)", headLen,
                          static_cast<int>(totalPackLen), maxBuff);
  return 0;
}

}  // namespace

int VmPackageDispatcher::PackData(const char* data, int len, char* buf, int maxBuff) {
  if (len < 0 || buf == nullptr || (data == nullptr && len > 0)) return RefuseBadArguments(data, len, buf, maxBuff);
  const int headLen = HeadLen();
  const int64_t totalPackLen = static_cast<int64_t>(len) + CrcLen();
  // A 16-bit length field cannot describe a longer frame; writing it truncated would put
  // the stream out of step at the receiver.
  if (m_LenMode != 1 && totalPackLen > kMaxShortLen) return RefuseShortLength(totalPackLen);
  if (headLen + totalPackLen > maxBuff) return RefuseSmallBuffer(headLen, totalPackLen, maxBuff);
  StoreLe16(buf, kPackMagic);
  if (m_LenMode == 1)
    StoreLe32(buf + 2, static_cast<uint32_t>(totalPackLen));
  else
    StoreLe16(buf + 2, static_cast<uint16_t>(totalPackLen));
  if (len > 0) std::memcpy(buf + headLen, data, static_cast<std::size_t>(len));
  int written = headLen + len;
  if (m_CrcCheck) {
    StoreLe32(buf + written, Crc32(0, buf, static_cast<std::size_t>(written)));
    written += 4;
  }
  return written;
}

void VmPackageDispatcher::PushData(std::string_view chunk) {
  // A callback may push into this framer again; only the outermost push may use the
  // reusable work buffer, since the outer push still reads from it.
  std::string local;
  std::string_view work = chunk;
  if (!m_CarryOver.empty()) {
    std::string& joined = m_InPush ? local : m_Work;
    joined.assign(m_CarryOver);
    joined.append(chunk);
    m_CarryOver.clear();
    work = joined;
  }
  PushScope scope(m_InPush);
  if (m_FilterFunc != nullptr && !m_FilterFunc(m_FilterUser, chunk)) return;
  CutPacks(work);
}

void VmPackageDispatcher::CutPacks(std::string_view work) {
  std::size_t position = 0;
  while (position < work.size()) {
    const int64_t n = CutPack(work.data() + position, work.size() - position);
    if (n < 0) return;
    position += static_cast<std::size_t>(n);
  }
}

int64_t VmPackageDispatcher::CutPack(const char* p, std::size_t avail) {
  const std::size_t headLen = static_cast<std::size_t>(HeadLen());
  if (avail < headLen) {
    WaitFor(p, avail);
    return static_cast<int64_t>(avail);
  }
  const uint16_t magic = LoadLe16(p);
  if (magic != kPackMagic) {
    if (m_InfoFunc != nullptr) Info(FormatText("封包错误:0x%x", static_cast<unsigned>(magic)).c_str());
    Error();
    return -1;
  }
  const uint64_t length = m_LenMode == 1 ? LoadLe32(p + 2) : LoadLe16(p + 2);
  // In 64 bits: a length near 2^32 must not wrap round to a small frame.
  const uint64_t total = length + headLen;
  if (total > kMaxPackLen) {
    if (m_InfoFunc != nullptr) Info(FormatText("封包过长: %lld", static_cast<long long>(total)).c_str());
    Error();
    return -1;
  }
  // A checked frame needs room for its checksum; a shorter one is refused at once rather
  // than delivered or waited for.
  if (m_CrcCheck && length < 4) {
    if (m_InfoFunc != nullptr) Info(FormatText("封包过短: %lld", static_cast<long long>(total)).c_str());
    Error();
    return -1;
  }
  if (total > avail) {
    WaitFor(p, avail);
    return static_cast<int64_t>(avail);
  }
  std::size_t payloadEnd = static_cast<std::size_t>(total);
  if (m_CrcCheck) {
    payloadEnd -= 4;
    const uint32_t curCRC = Crc32(0, p, payloadEnd);
    const uint32_t packCRC = LoadLe32(p + payloadEnd);
    if (curCRC != packCRC) {
      packet::Log()->LogError("Pack CRC Error! curCRC = %d, packCRC = %d, pack = %s", static_cast<int>(curCRC),
                              static_cast<int>(packCRC), HexText(p, static_cast<std::size_t>(total)).c_str());
      throw PackCrcError();
    }
  }
  if (m_PackFunc != nullptr) m_PackFunc(m_PackUser, std::string_view(p + headLen, payloadEnd - headLen));
  return static_cast<int64_t>(total);
}

void VmPackageDispatcher::WaitFor(const char* p, std::size_t avail) {
  m_CarryOver.assign(p, avail);
  if (m_InfoFunc == nullptr) return;
  // The first byte is shown sign-extended, as a char promoted to int.
  const int first = static_cast<signed char>(p[0]);
  Info(FormatText("需要等待的封包:0x%x,%d", static_cast<unsigned>(first), static_cast<int>(avail)).c_str());
}

void VmPackageDispatcher::Info(const char* text) {
  if (m_InfoFunc != nullptr) m_InfoFunc(m_InfoUser, text);
}

void VmPackageDispatcher::Error() {
  if (m_ErrorFunc != nullptr) m_ErrorFunc(m_ErrorUser);
}

extern "C" IPackageDispatcher* NewPackageDispatcher() { return new VmPackageDispatcher(); }

extern "C" void FreePackageDispatcher(IPackageDispatcher* dispatcher) {
  delete static_cast<VmPackageDispatcher*>(dispatcher);
}
