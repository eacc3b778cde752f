#include "statuslink/CSSLogicProcess.h"

#include "statuslink/StatusLinkFigures.h"

#include <cstring>
#include <system_error>

#include "components/LogComponent.h"
#include "interfaces/MMORPGPacket.h"
#include "interfaces/StatusWire.h"
#include "packet/MMORPGPacketPool.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "runtime/PlatformThread.h"
#include "scripting/CPythonScriptEx.h"
#include "statuslink/NetCore.h"

using namespace statuswire;

namespace {

std::atomic<CSSLogicProcess*> g_Link{nullptr};

// The script and the function that receive the queued messages.
constexpr const char* kStatusScript = "Fennick.py";
constexpr const char* kStatusFunction = "ServerStatusOnCommand";

}  // namespace

// The request thread: created suspended, runs ThreadProcessSSRequest once resumed.
class CSSLogicProcess::RequestThread : public PlatformThread {
 public:
  explicit RequestThread(CSSLogicProcess* link) : m_Link(link) {}
  ~RequestThread() override { Shutdown(); }

 protected:
  void Execute() override { ThreadProcessSSRequest(m_Link); }

 private:
  CSSLogicProcess* m_Link;
};

CSSLogicProcess* GetSSLogicProcess() {
  CSSLogicProcess* link = g_Link.load();
  if (link != nullptr) return link;
  if (!IsNetCoreLoaded()) return nullptr;
  link = new CSSLogicProcess;
  g_Link = link;
  return link;
}

CSSLogicProcess* PeekSSLogicProcess() { return g_Link.load(); }

CSSLogicProcess::CSSLogicProcess()
    : m_LastHeartbeat(platform::GetTickCount()), m_Processor(std::make_unique<CProcessStatusRequest>(this)) {}

CSSLogicProcess::~CSSLogicProcess() {
  // A thread that was never stopped must not outlive the object it works on.
  if (m_Thread) {
    m_StopFlag = true;
    m_Thread->Resume();
    m_Thread->WaitFor();
    m_Thread.reset();
  }
  ITiravo* core = NetCore();
  if (core != nullptr && core->IsConnected()) core->Stop();
  m_Processor.reset();
  GetStatusLinkFigures().ScriptQueueDepth.store(0);
  // The script queue, destroyed last, gives its packets back to the pool.
}

// ---------------------------------------------------------------------------------------
// Start and stop

int CSSLogicProcess::Start(bool scriptQueueing) {
  m_ScriptQueueing = scriptQueueing;
  if (scriptQueueing) _init_IPY_SSLogicProcess();
  if (m_Thread) {
    LogObject()->LogWarn("CSSLogicProcess::Start the request thread exists already");
    return 0;
  }
  try {
    m_Thread = std::make_unique<RequestThread>(this);
  } catch (const std::system_error& error) {
    LogObject()->LogFatal("Thread:ThreadProcessSSRequest Creation Failed GetLastError() = %d", error.code().value());
    return 0;
  }
  ITiravo* core = NetCore();
  return core != nullptr ? core->Start() : 0;
}

bool CSSLogicProcess::Connect(const char* ip, int port) {
  m_ServerIp = ip != nullptr ? ip : "";
  m_ServerPort = port;
  ITiravo* core = NetCore();
  return core != nullptr && core->Connect(m_ServerIp.c_str(), port);
}

int CSSLogicProcess::Resume() {
  if (!m_Thread) return 0;
  m_StopFlag = false;
  m_Thread->Resume();
  ITiravo* core = NetCore();
  return core != nullptr ? core->Resume() : 0;
}

int CSSLogicProcess::Stop() {
  if (!m_Thread) return 0;
  m_StopFlag = true;
  m_Thread->Resume();  // it may still be suspended
  LogObject()->LogWarn("Begin wait SSProcess thread end");
  m_Thread->WaitFor();
  LogObject()->LogWarn("exit wait  SSProcess thread end");
  m_Thread.reset();
  ITiravo* core = NetCore();
  return core != nullptr ? core->Stop() : 0;
}

bool CSSLogicProcess::IsRunning() { return !m_StopFlag.load(); }

void CSSLogicProcess::SetStopFlag(bool stop) { m_StopFlag = stop; }

bool CSSLogicProcess::IsStopping() { return m_StopFlag.load(); }

void CSSLogicProcess::ReleaseLink() {
  CSSLogicProcess* link = g_Link.exchange(nullptr);
  if (link == nullptr) return;
  if (ITiravo* core = NetCore()) {
    core->Stop();
    core->Shutdown();
  }
  delete link;
}

// ---------------------------------------------------------------------------------------
// Settings

void CSSLogicProcess::SetServerInfo(const char* name, int serverType, int lineId) {
  if (name == nullptr) return;
  std::memset(m_ServerName, 0, sizeof m_ServerName);
  std::strncpy(m_ServerName, name, kMaxServerName);
  m_ServerType = serverType;
  m_LineId = lineId;
}

int CSSLogicProcess::GetServerType() { return m_ServerType.load(); }
int CSSLogicProcess::GetLineId() { return m_LineId.load(); }
void CSSLogicProcess::SetLineId(int lineId) { m_LineId = lineId; }

void CSSLogicProcess::SetRequestHandler(StatusRequestHandler handler, void* user) {
  m_Processor->SetRequestHandler(handler, user);
}

void CSSLogicProcess::SetRequestFunc(StatusRequestFunc func) { m_Processor->SetRequestFunc(func); }

// ---------------------------------------------------------------------------------------
// Sending

bool CSSLogicProcess::SendPackFunc(const char* head, int headLen, const char* body, int bodyLen) {
  if (head == nullptr || headLen <= 0 || body == nullptr || bodyLen <= 0) {
    LogObject()->LogError("SendPack:szContent == NULL || nLen == 0");
    return false;
  }
  return NetCoreSendPack(head, headLen, body, bodyLen);
}

bool CSSLogicProcess::SendPack(const char* head, int headLen, const char* body, int bodyLen) {
  return SendPackFunc(head, headLen, body, bodyLen);
}

void CSSLogicProcess::SendLogin() {
  const std::string head = HeadBytes(ReplyHead(0));
  const std::string body = LoginBody(m_ServerName);
  NetCoreSendPack(head.data(), static_cast<int>(head.size()), body.data(), static_cast<int>(body.size()));
}

void CSSLogicProcess::SendHeartbeatIfDue() {
  const uint32_t now = platform::GetTickCount();
  if (now - m_LastHeartbeat < kHeartbeatIntervalMs) return;
  m_LastHeartbeat = now;
  const std::string head = HeadBytes(ReplyHead(0));
  const std::string body = HeartbeatBody();
  NetCoreSendPack(head.data(), static_cast<int>(head.size()), body.data(), static_cast<int>(body.size()));
}

// ---------------------------------------------------------------------------------------
// The request thread

StatusLinkFigures& GetStatusLinkFigures() {
  static StatusLinkFigures figures;
  return figures;
}

unsigned ThreadProcessSSRequest(void* param) {
  auto* link = static_cast<CSSLogicProcess*>(param);
  StatusLinkFigures& figures = GetStatusLinkFigures();
  LogObject()->LogInfo("ThreadProcessSSRequest start!");
  while (!link->IsStopping()) {
    // Whatever a pass throws (a handler, a component, the core) is logged and the thread
    // goes on: nobody else would read the link until it is stopped.
    try {
      ITiravo* core = NetCore();
      if (core == nullptr || !core->IsConnected()) {
        figures.Connected.store(false);
        platform::SleepMs(500);
        continue;
      }
      figures.Connected.store(true);
      if (!link->RunRequestPass(core)) platform::SleepMs(2);
    } catch (...) {
      LogObject()->LogFatal("ThreadProcessSSRequest catch a exception!");
      platform::SleepMs(2);
    }
  }
  figures.Connected.store(false);
  LogObject()->LogWarn("ThreadProcessSSRequest exit");
  return 0;
}

bool CSSLogicProcess::RunRequestPass(ITiravo* core) {
  if (core->NeedLogin()) {
    SendLogin();
    core->ClearNeedLogin();
  }
  SendHeartbeatIfDue();
  RefreshSelfUsage();
  if (core->GetRecvCount() <= 0) return false;
  DrainReceived(core);
  return true;
}

void CSSLogicProcess::DrainReceived(ITiravo* core) {
  // The packet in hand goes back to the pool however the pass ends.
  struct PacketInHand {
    MMORPG::MMORPGPacket* packet = AllocPacket();
    ~PacketInHand() {
      if (packet != nullptr) FreePacket(packet);
    }
  } hand;
  if (hand.packet == nullptr) return;
  for (int taken = 0; taken < kMaxMessagesPerPass && core->GetRecvCount() > 0; ++taken) {
    // A core that counts a message it then does not give is asked again on the next pass.
    if (!core->PopRecvPack(hand.packet)) break;
    if (m_Processor->Process(hand.packet)) {  // answered: the packet takes the next message
      GetStatusLinkFigures().RequestsAnswered.fetch_add(1);
      continue;
    }
    if (!m_ScriptQueueing) continue;  // dropped: the packet is filled again
    MMORPG::MMORPGPacket* queued = hand.packet;
    hand.packet = nullptr;
    QueueForScript(queued);
    hand.packet = AllocPacket();
    if (hand.packet == nullptr) return;
  }
}

void CSSLogicProcess::QueueForScript(MMORPG::MMORPGPacket* packet) {
  const int64_t size = packet->GetDataLen();
  auto full = [&] {
    return m_ScriptQueue.GetCount() >= kScriptQueueLimit || m_ScriptQueueBytes.load() + size > kScriptQueueBytes;
  };
  if (!full()) {
    m_ScriptQueueFull = false;
  } else {
    if (!m_ScriptQueueFull)
      LogObject()->LogWarn(
          "CSSLogicProcess::QueueForScript the script queue is full (%d messages, %lld bytes; at most %d messages, "
          "%lld bytes); the oldest are dropped until the status script catches up",
          m_ScriptQueue.GetCount(), static_cast<long long>(m_ScriptQueueBytes.load()), kScriptQueueLimit,
          static_cast<long long>(kScriptQueueBytes));
    m_ScriptQueueFull = true;
    while (full()) {
      MMORPG::MMORPGPacket* oldest = m_ScriptQueue.Pop();
      if (oldest == nullptr) break;
      m_ScriptQueueBytes -= oldest->GetDataLen();
      FreePacket(oldest);
    }
  }
  m_ScriptQueueBytes += size;
  m_ScriptQueue.Push(packet);
  GetStatusLinkFigures().ScriptQueueDepth.store(m_ScriptQueue.GetCount());
}

// ---------------------------------------------------------------------------------------
// The script step

bool CSSLogicProcess::PopScriptPack(MMORPG::MMORPGPacket* packet) {
  if (!m_ScriptQueueing) return false;
  const bool popped = m_ScriptQueue.PacketPop(packet);
  if (popped) m_ScriptQueueBytes -= packet->GetDataLen();
  GetStatusLinkFigures().ScriptQueueDepth.store(m_ScriptQueue.GetCount());
  return popped;
}

int CSSLogicProcess::GetScriptPackCount() {
  if (!m_ScriptQueueing) return 0;
  return m_ScriptQueue.GetCount();
}

bool CSSLogicProcess::RunStatusScript() {
  if (!m_ScriptQueueing) return false;
  // Never nested within itself (a script that lets the window handle its events).
  if (m_InScriptStep.exchange(true)) return false;
  MMORPG::MMORPGPacket_Stack packet;
  bool result = false;
  // What the queue holds now: messages that arrive meanwhile wait for the next step, so
  // that a busy peer never keeps the window thread in here.
  for (int budget = GetScriptPackCount(); budget > 0 && GetScriptPackCount() > 0; --budget) {
    result = true;
    if (!PopScriptPack(&packet)) continue;
    const std::string bytes = packet.GetSendData();
    if (!CallWithBytes(CPythonScriptEx::GetInstance(), kStatusScript, kStatusFunction, bytes.data(),
                       static_cast<int>(bytes.size())))
      LogObject()->LogPyErr("Call python function %s, in py file %s fail", kStatusFunction, kStatusScript);
  }
  m_InScriptStep = false;
  return result;
}
