// The main window's side of the status server link, without the window: the start and stop
// of the link ("StartStatusServer", "StopStatusServer", the window closing), the request
// handler that answers the base information request and "GetErrorLog" on the request
// thread, the status logic component, and the script step run from the window's timer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "interfaces/StatusWire.h"
#include "platform/file_mapping.h"
#include "statuslink/CommonCmd.h"
#include "statuslink/ErrorLogWorker.h"
#include "statuslink/SSProcessDLLLoad.h"

class IConfig;
class IStatusLinkView;
class MapServerInfoManager;

namespace MMORPG {
class MMORPGPacket;
}

class StatusLinkControl {
 public:
  // Texts of the status bar and the messages of the start.
  static constexpr const char* kNoNetCoreMessage = "加载Tiravo失败，状态服务器无法开启！";
  static constexpr const char* kConnectFailedMessage = "SSLogicProcess connect failed！请检查ip端口号是否正确！";
  static constexpr const char* kConnecting = "Connecting to StatusServer...";
  static constexpr const char* kConnectFailed = "Connect to StatusServer failed";
  static constexpr const char* kConnectOk = "Connect to StatusServer OK";
  static constexpr const char* kDisconnectOk = "Disconnect from StatusServer OK";
  // The link's identity towards the status server.
  static constexpr const char* kServerName = "MapServer";
  static constexpr int kServerType = 6;

  struct Settings {
    IConfig* Config = nullptr;  // edtSSIP and edtSSPort
    IStatusLinkView* View = nullptr;
    MapServerInfoManager* Maps = nullptr;  // null: the process's map list
  };
  explicit StatusLinkControl(const Settings& settings);
  // Stops a link that still runs, then releases the status logic component.
  ~StatusLinkControl();
  StatusLinkControl(const StatusLinkControl&) = delete;
  StatusLinkControl& operator=(const StatusLinkControl&) = delete;

  // "StartStatusServer".
  void StartStatusServer();
  // "AutoConnectStatusServer": the start right after "Start", with nobody at hand to answer
  // a message box. A failed connect is said once in the log (no message box) and tried
  // again with the network core's capped back-off, through the view's retry timer, until
  // the link is made, the operator starts or stops it, or the window closes.
  void AutoConnectStatusServer();
  // The view's retry timer fired.
  void RetryAutoConnect();
  // The back-off of the retries: the network core's reconnection back-off.
  static constexpr int kFirstRetryMs = 250;
  static constexpr int kMaxRetryMs = 5000;
  // "StopStatusServer", and the first step when the window closes. Does nothing unless the
  // network core is loaded.
  void StopStatusServer();
  // The window is destroyed: the status logic component is released.
  void Shutdown();
  // The script step, on the window thread: the queued messages to the status script.
  bool RunScriptStep();

  // The request handler, installed with this object as its user value.
  static bool OnStatusPack(void* window, MMORPG::MMORPGPacket* packet);
  bool OnSVCBaseInfo(MMORPG::MMORPGPacket* packet);
  bool OnSVCCommonCmd(MMORPG::MMORPGPacket* packet);
  bool OnSVCCmdGetErrorLog(MMORPG::MMORPGPacket* packet);
  // Sends the reply to the common command in `packet` with `length` result bytes.
  bool SendCommonCmdReply(MMORPG::MMORPGPacket* packet, const char* data, uint32_t length);

  // Nothing to do here: there are no drive letters to put into the environment.
  void SetDriveEnvironment() {}

  SSProcessDLLLoad& StatusLogic() { return m_StatusLogic; }

 private:
  enum class StartOutcome { Started, ConnectFailed, NoCore };
  // The start steps; an operator's press shows the messages, an automatic start logs them.
  StartOutcome TryStart(bool operatorPress);
  StartOutcome StartSteps(bool operatorPress);
  void AutoConnectAttempt();

  bool GetErrorLog(MMORPG::MMORPGPacket* packet, const statuswire::tagCSVCommonCmd& request);
  // The file the error-log request names, opened; null (after its log line) when there is
  // none to send. `path` is the whole path.
  std::shared_ptr<platform::ReadOnlyFileMapping> OpenErrorLog(const statuswire::tagCSVCommonCmd& request,
                                                              std::string& path);
  // The file's bytes compressed (empty, after its log line, when there are none to send).
  static CompressedBlocks CompressErrorLog(platform::ReadOnlyFileMapping& file, const std::string& path,
                                           uint8_t paramLen, const std::function<bool()>& keepGoing);
  // Sends a reply body with the head of the request in `packet`.
  bool SendReply(MMORPG::MMORPGPacket* packet, const std::string& body);

  IConfig* m_Config;
  IStatusLinkView* m_View;
  MapServerInfoManager* m_Maps;
  SSProcessDLLLoad m_StatusLogic;
  ErrorLogWorker m_ErrorLogWorker;
  // Window thread: the automatic start's retries.
  bool m_AutoRetry = false;
  bool m_RetryReported = false;
  int m_RetryMs = kFirstRetryMs;
  std::minstd_rand m_Random;
};
