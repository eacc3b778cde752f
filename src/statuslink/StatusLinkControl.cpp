#include "statuslink/StatusLinkControl.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "common/Utils.h"
#include "components/LogComponent.h"
#include "interfaces/IConfig.h"
#include "packet/MMORPGPacket.h"
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
      m_Maps(settings.Maps != nullptr ? settings.Maps : &GetMapServerInfoManager()) {}

StatusLinkControl::~StatusLinkControl() { Shutdown(); }

void StatusLinkControl::Shutdown() {
  // The request thread offers messages to the component: it ends before the library goes.
  if (CSSLogicProcess* link = PeekSSLogicProcess(); link != nullptr && link->HasRequestThread()) link->Stop();
  m_StatusLogic.UnloadStatusLogic();
}

// ---------------------------------------------------------------------------------------
// Start and stop

void StatusLinkControl::StartStatusServer() {
  if (!IsNetCoreLoaded()) {
    platform::CurrentDialogs().Message(kNoNetCoreMessage);
    return;
  }
  m_View->SetStatusText(kConnecting);
  CSSLogicProcess* link = GetSSLogicProcess();
  const int port = m_Config->GetInt("edtSSPort", 0);
  const char* ipText = m_Config->GetString("edtSSIP", "");
  const std::string ip = ipText != nullptr ? ipText : "";
  if (link == nullptr || !link->Connect(ip.c_str(), port)) {
    m_View->SetStatusText(kConnectFailed);
    LogObject()->TraceInfo("SSLogicProcess connect failed！ip = %s, port = %d", ip.c_str(), port);
    platform::CurrentDialogs().Message(kConnectFailedMessage);
    return;
  }
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
}

void StatusLinkControl::StopStatusServer() {
  if (!IsNetCoreLoaded()) return;
  m_View->SetScriptStepActive(false);
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
    LogObject()->TraceWarn("TVemoMapServerManagerMain::OnSVCBaseInfo left %d items out: a reply holds at most %d of a kind",
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
    CompressedBlocks result = ReadErrorLog(request);
    if (result.Size == 0)
      SendCommonCmdReply(packet, "", 0);
    else
      SendReply(packet, CommonCmdReplyBody(request, result));
  } catch (const std::exception&) {
    LogObject()->TraceWarn("Throw exception in OnSVCCmdGetErrorLog");
  }
  return true;
}

CompressedBlocks StatusLinkControl::ReadErrorLog(const tagCSVCommonCmd& request) {
  ILog* log = LogObject();
  const char* dirText = log->ErrorLogPath();
  std::string path = dirText != nullptr ? dirText : "";
  if (path.size() > kMaxPathChars) path.resize(kMaxPathChars);
  // The parameter as a C text: up to its first zero byte, cut to the room left.
  const std::size_t room = std::min<std::size_t>(request.ParamLen, kMaxPathChars - path.size());
  const std::string name(request.Param, strnlen(request.Param, room));
  path += name;

  // A name from the network: only a plain file of the error-log directory is ever read.
  if (!IsLogFileName(name)) {
    log->TraceWarn("TVemoMapServerManagerMain::OnSVCCmdGetErrorLog refused \"%s\": not a file name of the error-log "
                   "directory",
                   name.c_str());
    return {};
  }
  platform::ReadOnlyFileMapping file;
  int error = 0;
  switch (file.Open(path, &error)) {
    case platform::ReadOnlyFileMapping::OpenResult::NotFound:
      log->TraceDebug("Can't find file:%s", path.c_str());
      return {};
    case platform::ReadOnlyFileMapping::OpenResult::NotRegularFile:
      log->TraceWarn("TVemoMapServerManagerMain::OnSVCCmdGetErrorLog refused %s: not a regular file", path.c_str());
      return {};
    case platform::ReadOnlyFileMapping::OpenResult::Failed:
      log->TraceWarn("Create file failed: errno = %d, file = %s", error, path.c_str());
      return {};
    case platform::ReadOnlyFileMapping::OpenResult::Opened:
      break;
  }
  if (file.Size() == 0) {
    log->TraceDebug("file size is zero : %s", path.c_str());
    return {};
  }
  const void* view = file.MapView(&error);
  if (view == nullptr) {
    log->TraceWarn("Map view of file faied, last err = %d", error);
    return {};
  }
  CompressedBlocks compressed;
  switch (CompressZlib9(view, file.Size(), MaxReplyResult(request.ParamLen), compressed)) {
    case CompressResult::Ok:
      break;
    case CompressResult::TooLarge:
      log->TraceWarn("TVemoMapServerManagerMain::OnSVCCmdGetErrorLog %s compresses to more than one reply holds; "
                     "answered without data",
                     path.c_str());
      break;
    case CompressResult::Failed:
      log->TraceWarn("TVemoMapServerManagerMain::OnSVCCmdGetErrorLog %s could not be compressed; answered without data",
                     path.c_str());
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
