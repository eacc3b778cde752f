#include "statuslink/StatusLinkControl.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>

#include "common/Utils.h"
#include "components/LogComponent.h"
#include "interfaces/IConfig.h"
#include "interfaces/MMORPGPacket.h"
#include "packet/VmPackageDispatcher.h"
#include "platform/dialogs.h"
#include "platform/file_mapping.h"
#include "registry/MapServerInfoManager.h"
#include "registry/MapServerState.h"
#include "registry/RecordAccess.h"
#include "scripting/CPythonScriptEx.h"
#include "statuslink/BaseInfoReply.h"
#include "statuslink/CSSLogicProcess.h"
#include "statuslink/CommonCmd.h"
#include "statuslink/IStatusLinkView.h"
#include "statuslink/NetCore.h"

using namespace statuswire;

namespace {

// The server type in the key of the map count item.
constexpr uint32_t kMapCountServerType = 11;
// The path buffer of the error-log request holds 259 characters and its terminator.
constexpr std::size_t kMaxPathChars = 259;
// The most result bytes a common command reply carries: its frame (6-byte frame head,
// 9-byte packet head, 40 + L bytes of record) must stay within what a peer's framer takes.
std::size_t MaxReplyResult(uint8_t paramLen) {
  return static_cast<std::size_t>(VmPackageDispatcher::kMaxPackLen) - 6 - sizeof(MMORPG::tagPackHead) -
         kCommonCmdReplyFixedLen - paramLen;
}

// Logs up to this size are compressed on the request thread; larger ones on the worker.
constexpr uint64_t kInlineCompressBytes = 4 * 1024 * 1024;

// A file name that stays inside the error-log directory: not empty, no separator of either
// platform, no "..".
bool IsLogFileName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
         name.find("..") == std::string::npos;
}

}  // namespace

StatusLinkControl::StatusLinkControl(const Settings& settings)
    : m_Config(settings.Config),
      m_View(settings.View),
      m_Maps(settings.Maps != nullptr ? settings.Maps : &GetMapServerInfoManager()),
      m_Random(std::random_device{}()) {}

StatusLinkControl::~StatusLinkControl() { Shutdown(); }

void StatusLinkControl::Shutdown() {
  m_AutoRetry = false;
  m_ErrorLogWorker.Stop();
  // The request thread offers messages to the component: it ends before the library goes.
  if (CSSLogicProcess* link = PeekSSLogicProcess(); link != nullptr && link->HasRequestThread()) link->Stop();
  m_StatusLogic.UnloadStatusLogic();
}

// ---------------------------------------------------------------------------------------
// Start and stop

void StatusLinkControl::StartStatusServer() {
  m_AutoRetry = false;  // the operator's press takes over from an automatic start
  TryStart(true);
}

void StatusLinkControl::AutoConnectStatusServer() {
  m_AutoRetry = true;
  m_RetryMs = kFirstRetryMs;
  m_RetryReported = false;
  AutoConnectAttempt();
}

void StatusLinkControl::RetryAutoConnect() {
  if (!m_AutoRetry) return;  // stopped, started by the operator, or connected meanwhile
  AutoConnectAttempt();
}

void StatusLinkControl::AutoConnectAttempt() {
  if (TryStart(false) != StartOutcome::ConnectFailed) {
    m_AutoRetry = false;
    return;
  }
  // The network core's own back-off: doubling up to its cap, a fifth either way at random.
  std::uniform_int_distribution<int> spread(-m_RetryMs / 5, m_RetryMs / 5);
  const int delay = m_RetryMs + spread(m_Random);
  m_RetryMs = std::min(m_RetryMs * 2, kMaxRetryMs);
  m_View->ScheduleRetry(delay);
}

StatusLinkControl::StartOutcome StatusLinkControl::TryStart(bool operatorPress) {
  // Nothing thrown below reaches the window: the start fails with a log line instead.
  try {
    return StartSteps(operatorPress);
  } catch (const std::exception& error) {
    LogObject()->TraceError("StatusLinkControl::StartStatusServer failed: %s", error.what());
  } catch (...) {
    LogObject()->TraceError("StatusLinkControl::StartStatusServer failed: an unknown exception");
  }
  m_View->SetStatusText(kConnectFailed);
  return StartOutcome::ConnectFailed;
}

StatusLinkControl::StartOutcome StatusLinkControl::StartSteps(bool operatorPress) {
  if (!IsNetCoreLoaded()) {
    if (operatorPress)
      platform::CurrentDialogs().Message(kNoNetCoreMessage);
    else
      LogObject()->TraceWarn(
          "StatusLinkControl::AutoConnectStatusServer the network core is not loaded; the status "
          "link is not started");
    return StartOutcome::NoCore;
  }
  m_View->SetStatusText(kConnecting);
  CSSLogicProcess* link = GetSSLogicProcess();
  const int port = m_Config->GetInt("edtSSPort", 0);
  const char* ipText = m_Config->GetString("edtSSIP", "");
  const std::string ip = ipText != nullptr ? ipText : "";
  if (link == nullptr || !link->Connect(ip.c_str(), port)) {
    m_View->SetStatusText(kConnectFailed);
    if (operatorPress) {
      LogObject()->TraceInfo("SSLogicProcess connect failed！ip = %s, port = %d", ip.c_str(), port);
      platform::CurrentDialogs().Message(kConnectFailedMessage);
    } else if (!m_RetryReported) {
      // Nobody is there to answer a message box: the log says it, once for the series.
      m_RetryReported = true;
      LogObject()->TraceInfo("SSLogicProcess connect failed！ip = %s, port = %d", ip.c_str(), port);
      LogObject()->TraceWarn(
          "StatusLinkControl::AutoConnectStatusServer no connection to %s:%d; trying again with "
          "back-off up to %d ms until it is made",
          ip.c_str(), port, kMaxRetryMs);
    }
    return StartOutcome::ConnectFailed;
  }
  if (!operatorPress && m_RetryReported)
    LogObject()->TraceInfo("StatusLinkControl::AutoConnectStatusServer connected to %s:%d after retrying", ip.c_str(),
                           port);
  CPythonScriptEx::GetInstance();
  link->SetServerInfo(kServerName, kServerType, link->GetLineId());
  link->SetRequestHandler(&StatusLinkControl::OnStatusPack, this);
  link->Start(true);
  link->SendLogin();
  link->Resume();
  m_View->ShowLinkButtons(true);
  LogObject()->TraceInfo("Status server connect successfully!");
  m_StatusLogic.LoadStatusLogic(&CSSLogicProcess::SendPackFunc);
  m_View->SetStatusText(kConnectOk);
  SetDriveEnvironment();
  m_View->SetScriptStepActive(true);
  return StartOutcome::Started;
}

void StatusLinkControl::StopStatusServer() {
  m_AutoRetry = false;
  if (!IsNetCoreLoaded()) return;
  m_View->SetScriptStepActive(false);
  m_ErrorLogWorker.Stop();
  if (CSSLogicProcess* link = GetSSLogicProcess()) {
    link->Stop();
    link->ReleaseLink();
  }
  UnloadNetCore();
  m_View->ShowLinkButtons(false);
  m_View->SetStatusText(kDisconnectOk);
}

bool StatusLinkControl::RunScriptStep() {
  CSSLogicProcess* link = PeekSSLogicProcess();
  return link != nullptr && link->RunStatusScript();
}

// ---------------------------------------------------------------------------------------
// The request handler (request thread)

bool StatusLinkControl::OnStatusPack(void* window, MMORPG::MMORPGPacket* packet) {
  if (packet == nullptr) return true;
  auto* self = static_cast<StatusLinkControl*>(window);
  const char* body = packet->GetData();
  const int length = packet->GetDataLen();
  if (IsBody(body, length, kClassBaseInfoRequest, kSubBaseInfoRequest) && self->OnSVCBaseInfo(packet)) return true;
  if (IsBody(body, length, kClassCommonCmd, kSubCommonCmd) && self->OnSVCCommonCmd(packet)) return true;
  return self->m_StatusLogic.OfferStatusRequest(packet);
}

bool StatusLinkControl::OnSVCBaseInfo(MMORPG::MMORPGPacket* packet) {
  CSSLogicProcess* link = PeekSSLogicProcess();
  const uint32_t lineId = link != nullptr ? static_cast<uint32_t>(link->GetLineId()) : 0;
  const uint32_t serverType = link != nullptr ? static_cast<uint32_t>(link->GetServerType()) : 0;
  BaseInfoReply reply;
  {
    // Another thread than the window's: the list is read under its shared lock.
    auto lock = m_Maps->ReadLock();
    const int count = m_Maps->GetMapInfoCount();
    for (int i = 0; i < count; ++i) {
      MapServerInfo* info = m_Maps->GetMapInfo(i);
      if (info == nullptr) continue;
      const tagMapServerData* data = info->GetShareData();
      if (data == nullptr) continue;
      const uint32_t mapId = static_cast<uint32_t>(info->GetMapData().GetMapID());
      auto key = [&](uint32_t code) { return MakeInfoKey(code, mapId, lineId, serverType); };
      const int32_t state = record::State(*data);
      if (state == msCppError) {
        reply.AddText(key(biCppError), "C++ Error; LastErrorTime:" + record::Text(data->LastErrorTime) +
                                           ";LastFatalTime:" + record::Text(data->LastFatalTime));
      } else if (state == msPythonError) {
        reply.AddText(key(biPythonError), "Python Error; LastPyErrorTime:" + record::Text(data->LastPyErrorTime) +
                                              "; " + record::Text(data->MsgText));
      }
      reply.AddNumeric(key(biCpuUsage), SignWiden(info->GetProcessCpu()));
      const platform::MemoryCounters memory = info->GetMemoryCounters();
      reply.AddNumeric(key(biMemory), memory.WorkingSetSize);
      reply.AddNumeric(key(biPagefileUsage), memory.PagefileUsage);
      reply.AddText(key(biServerName), info->GetMapData().GetServerName() + "(" + info->GetDisplayName() + ")");
      reply.AddText(key(biStateName), MapServerStateText(state));
      reply.AddNumeric(key(biGameObjCount), SignWiden(record::Load(data->GameObjCnt)));
      reply.AddNumeric(key(biPlayerCount), SignWiden(record::Load(data->PlayerCnt)));
      reply.AddNumeric(key(biItemCount), SignWiden(record::Load(data->ItemCnt)));
      reply.AddNumeric(key(biFps), SignWiden(record::Load(data->FPS)));
      reply.AddNumeric(key(biAlwaysZero), 0);
      reply.AddNumeric(key(biProcessId), ZeroWiden(record::ProcessId(*data)));
      reply.AddNumeric(key(biFBCount), SignWiden(record::Load(data->FBCnt)));
      reply.AddNumeric(MakeInfoKey(biMapCount, 0, lineId, kMapCountServerType), SignWiden(count));
    }
  }
  if (reply.Dropped() > 0)
    LogObject()->TraceWarn(
        "TVemoMapServerManagerMain::OnSVCBaseInfo left %d items out: a reply holds at most %d of a kind",
        reply.Dropped(), BaseInfoReply::kMaxItems);
  const std::string head = HeadBytes(ReplyHead(packet->m_PackHead.EchoTag));
  const std::string body = reply.Body();
  CSSLogicProcess::SendPackFunc(head.data(), static_cast<int>(head.size()), body.data(), static_cast<int>(body.size()));
  return true;
}

// ---------------------------------------------------------------------------------------
// Common commands

bool StatusLinkControl::OnSVCCommonCmd(MMORPG::MMORPGPacket* packet) {
  if (packet == nullptr || packet->GetDataLen() < kCommonCmdFixedLen) return false;
  tagCSVCommonCmd request;
  ReadCommonCmd(request, packet->GetData(), packet->GetDataLen());
  if (request.NameText() == "GetErrorLog") return GetErrorLog(packet, request);
  return false;
}

bool StatusLinkControl::OnSVCCmdGetErrorLog(MMORPG::MMORPGPacket* packet) {
  if (packet == nullptr || packet->GetDataLen() < kCommonCmdFixedLen) return false;
  tagCSVCommonCmd request;
  ReadCommonCmd(request, packet->GetData(), packet->GetDataLen());
  return GetErrorLog(packet, request);
}

bool StatusLinkControl::GetErrorLog(MMORPG::MMORPGPacket* packet, const tagCSVCommonCmd& request) {
  try {
    std::string path;
    std::shared_ptr<platform::ReadOnlyFileMapping> file = OpenErrorLog(request, path);
    if (!file) {
      SendCommonCmdReply(packet, "", 0);
    } else if (file->Size() <= kInlineCompressBytes) {
      CompressedBlocks result = CompressErrorLog(*file, path, request.ParamLen, nullptr);
      if (result.Size == 0)
        SendCommonCmdReply(packet, "", 0);
      else
        SendReply(packet, CommonCmdReplyBody(request, result));
    } else {
      // A large log is compressed on the worker, which sends the reply itself; the request
      // thread goes on with heartbeats and other requests meanwhile.
      const std::string head = HeadBytes(ReplyHead(packet->m_PackHead.EchoTag));
      const tagCSVCommonCmd copy = request;
      const bool started = m_ErrorLogWorker.Run([file, path, head, copy](const std::function<bool()>& keepGoing) {
        tagCSVCommonCmd record = copy;
        CompressedBlocks result = CompressErrorLog(*file, path, record.ParamLen, keepGoing);
        file->Close();
        if (!keepGoing()) return;  // the link is stopping: nobody to answer
        const std::string body =
            result.Size > 0 ? CommonCmdReplyBody(record, result) : statuswire::CommonCmdReplyBody(record, "", 0);
        CSSLogicProcess::SendPackFunc(head.data(), static_cast<int>(head.size()), body.data(),
                                      static_cast<int>(body.size()));
      });
      if (!started) {
        LogObject()->TraceWarn(
            "TVemoMapServerManagerMain::OnSVCCmdGetErrorLog %s: another log is being compressed; "
            "answered without data",
            LogSafe(path).c_str());
        SendCommonCmdReply(packet, "", 0);
      }
    }
  } catch (...) {
    LogObject()->TraceWarn("Throw exception in OnSVCCmdGetErrorLog");
  }
  return true;
}

std::shared_ptr<platform::ReadOnlyFileMapping> StatusLinkControl::OpenErrorLog(const tagCSVCommonCmd& request,
                                                                               std::string& path) {
  ILog* log = LogObject();
  const char* dirText = log->ErrorLogPath();
  path = dirText != nullptr ? dirText : "";
  if (path.size() > kMaxPathChars) path.resize(kMaxPathChars);
  // The parameter as a C text: up to its first zero byte, cut to the room left.
  const std::size_t room = std::min<std::size_t>(request.ParamLen, kMaxPathChars - path.size());
  const std::string name(request.Param, strnlen(request.Param, room));
  path += name;

  // A name from the network: only a plain file of the error-log directory is ever read.
  if (!IsLogFileName(name)) {
    log->TraceWarn(
        "TVemoMapServerManagerMain::OnSVCCmdGetErrorLog refused \"%s\": not a file name of the error-log "
        "directory",
        LogSafe(name).c_str());
    return nullptr;
  }
  const std::string shown = LogSafe(path);
  auto file = std::make_shared<platform::ReadOnlyFileMapping>();
  int error = 0;
  switch (file->Open(path, &error)) {
    case platform::ReadOnlyFileMapping::OpenResult::NotFound:
      log->TraceDebug("Can't find file:%s", shown.c_str());
      return nullptr;
    case platform::ReadOnlyFileMapping::OpenResult::NotRegularFile:
      log->TraceWarn("TVemoMapServerManagerMain::OnSVCCmdGetErrorLog refused %s: not a regular file", shown.c_str());
      return nullptr;
    case platform::ReadOnlyFileMapping::OpenResult::HardLinked:
      log->TraceWarn("TVemoMapServerManagerMain::OnSVCCmdGetErrorLog refused %s: it has more than one hard link",
                     shown.c_str());
      return nullptr;
    case platform::ReadOnlyFileMapping::OpenResult::Failed:
      log->TraceWarn("Create file failed: errno = %d, file = %s", error, shown.c_str());
      return nullptr;
    case platform::ReadOnlyFileMapping::OpenResult::Opened: break;
  }
  if (file->Size() == 0) {
    log->TraceDebug("file size is zero : %s", shown.c_str());
    return nullptr;
  }
  return file;
}

CompressedBlocks StatusLinkControl::CompressErrorLog(platform::ReadOnlyFileMapping& file, const std::string& path,
                                                     uint8_t paramLen, const std::function<bool()>& keepGoing) {
  ILog* log = LogObject();
  int error = 0;
  const void* view = file.MapView(&error);
  if (view == nullptr) {
    log->TraceWarn("Map view of file faied, last err = %d", error);
    return {};
  }
  CompressedBlocks compressed;
  // A file truncated under the view reads as zeros from there on: the bytes would be no
  // copy of the file, so the compression ends and the request is answered without data.
  auto going = [&] { return !file.Faulted() && (!keepGoing || keepGoing()); };
  const CompressResult result = CompressZlib9(view, file.Size(), MaxReplyResult(paramLen), compressed, going);
  const std::string shown = LogSafe(path);
  if (file.Faulted()) {
    log->TraceWarn(
        "TVemoMapServerManagerMain::OnSVCCmdGetErrorLog %s was truncated while it was read; answered "
        "without data",
        shown.c_str());
    return {};
  }
  switch (result) {
    case CompressResult::Ok:
    case CompressResult::Abandoned: break;
    case CompressResult::TooLarge:
      log->TraceWarn(
          "TVemoMapServerManagerMain::OnSVCCmdGetErrorLog %s compresses to more than one reply holds; "
          "answered without data",
          shown.c_str());
      break;
    case CompressResult::Failed:
      log->TraceWarn("TVemoMapServerManagerMain::OnSVCCmdGetErrorLog %s could not be compressed; answered without data",
                     shown.c_str());
      break;
  }
  return compressed;
}

bool StatusLinkControl::SendCommonCmdReply(MMORPG::MMORPGPacket* packet, const char* data, uint32_t length) {
  if (data == nullptr || packet == nullptr) {
    LogObject()->LogError("Bad data : pData = 0x%p, pPack = 0x%p, dwDataLen = %d", static_cast<const void*>(data),
                          static_cast<void*>(packet), static_cast<int>(length));
    return false;
  }
  tagCSVCommonCmd request;
  ReadCommonCmd(request, packet->GetData(), packet->GetDataLen(), false);
  return SendReply(packet, statuswire::CommonCmdReplyBody(request, data, length));
}

bool StatusLinkControl::SendReply(MMORPG::MMORPGPacket* packet, const std::string& body) {
  const std::string head = HeadBytes(ReplyHead(packet->m_PackHead.EchoTag));
  return CSSLogicProcess::SendPackFunc(head.data(), static_cast<int>(head.size()), body.data(),
                                       static_cast<int>(body.size()));
}
