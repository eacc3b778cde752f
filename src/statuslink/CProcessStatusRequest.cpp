#include "statuslink/CProcessStatusRequest.h"

#include "interfaces/MMORPGPacket.h"
#include "interfaces/StatusWire.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "statuslink/BaseInfoReply.h"
#include "statuslink/NetCore.h"

using namespace statuswire;

// ---------------------------------------------------------------------------------------
// The manager's own usage figures. Sampled and read on the request thread; atomics only
// so that a test or a later link on another thread reads them cleanly.

namespace {

struct SelfUsage {
  std::atomic<int> CpuUsage{0};
  std::atomic<uint64_t> PagefileUsage{0};
  int Processors = 0;
  bool HasSampleTick = false;
  uint32_t SampleTick = 0;
  bool HasPrevTimes = false;
  uint64_t PrevKernel = 0;
  uint64_t PrevUser = 0;
  std::mutex Mutex;  // one sampler at a time
};

SelfUsage& Usage() {
  static SelfUsage usage;
  return usage;
}

}  // namespace

void RefreshSelfUsage() {
  SelfUsage& usage = Usage();
  std::lock_guard<std::mutex> lock(usage.Mutex);
  if (usage.Processors == 0) usage.Processors = platform::ProcessorCount();
  if (!usage.HasSampleTick) {
    usage.SampleTick = platform::TimeGetTime();
    usage.HasSampleTick = true;
    return;
  }
  const uint32_t elapsed = platform::TimeGetTime() - usage.SampleTick;
  if (elapsed < 1500) return;

  const uint32_t self = platform::CurrentProcessId();
  platform::MemoryCounters counters;
  if (!platform::GetMemoryCounters(self, &counters)) counters = platform::MemoryCounters{};
  usage.PagefileUsage = counters.PagefileUsage;

  platform::CpuTimes times;
  if (platform::GetProcessTimes(self, &times)) {
    if (!usage.HasPrevTimes) {
      usage.HasPrevTimes = true;
    } else {
      // 100-ns units to milliseconds.
      const uint64_t cpuMs = ((times.Kernel - usage.PrevKernel) + (times.User - usage.PrevUser)) / 10 / 1000;
      const uint32_t wall = platform::TimeGetTime() - usage.SampleTick;
      const double denominator = static_cast<double>(wall) * usage.Processors;
      usage.CpuUsage = denominator != 0 ? static_cast<int>(static_cast<double>(cpuMs) / denominator * 100) : 0;
    }
    usage.PrevKernel = times.Kernel;
    usage.PrevUser = times.User;
  }
  usage.SampleTick = platform::TimeGetTime();
}

int SelfCpuUsage() { return Usage().CpuUsage.load(); }
uint64_t SelfPagefileUsage() { return Usage().PagefileUsage.load(); }

void ResetSelfUsageForTesting() {
  SelfUsage& usage = Usage();
  std::lock_guard<std::mutex> lock(usage.Mutex);
  usage.CpuUsage = 0;
  usage.PagefileUsage = 0;
  usage.Processors = 0;
  usage.HasSampleTick = usage.HasPrevTimes = false;
  usage.SampleTick = 0;
  usage.PrevKernel = usage.PrevUser = 0;
}

// ---------------------------------------------------------------------------------------
// The processor

void CProcessStatusRequest::SetRequestHandler(StatusRequestHandler handler, void* user) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_Handler = handler;
  m_User = user;
}

void CProcessStatusRequest::SetRequestFunc(StatusRequestFunc func) {
  m_RequestFunc = func;
  if (func != nullptr) SetRequestHandler(&CProcessStatusRequest::ForwardToRequestFunc, this);
}

bool CProcessStatusRequest::ForwardToRequestFunc(void* user, MMORPG::MMORPGPacket* packet) {
  StatusRequestFunc func = static_cast<CProcessStatusRequest*>(user)->m_RequestFunc.load();
  return func != nullptr && func(packet);
}

bool CProcessStatusRequest::Process(MMORPG::MMORPGPacket* packet) {
  if (packet == nullptr) return true;
  StatusRequestHandler handler;
  void* user;
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    handler = m_Handler;
    user = m_User;
  }
  if (handler != nullptr && handler(user, packet)) return true;
  if (!IsBody(packet->GetData(), packet->GetDataLen(), kClassBaseInfoRequest, kSubBaseInfoRequest)) return false;
  return AnswerWithSelfUsage(packet);
}

bool CProcessStatusRequest::AnswerWithSelfUsage(MMORPG::MMORPGPacket* packet) {
  const uint32_t lineId = static_cast<uint32_t>(m_Link->GetLineId());
  const uint32_t serverType = static_cast<uint32_t>(m_Link->GetServerType());
  BaseInfoReply reply;
  reply.AddNumeric(MakeInfoKey(biCpuUsage, 0, lineId, serverType), SignWiden(SelfCpuUsage()));
  reply.AddNumeric(MakeInfoKey(biMemory, 0, lineId, serverType), SelfPagefileUsage());
  const std::string body = reply.Body();
  // The request's whole head, with the link's server types.
  MMORPG::tagPackHead head = packet->m_PackHead;
  head.DestServerType = kLinkServerType;
  head.SrcServerType = kLinkServerType;
  const std::string headBytes = HeadBytes(head);
  m_Link->SendPack(headBytes.data(), static_cast<int>(headBytes.size()), body.data(), static_cast<int>(body.size()));
  return true;
}
