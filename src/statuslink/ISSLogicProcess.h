// The status server link, as the main window and the request thread use it.
#pragma once

namespace MMORPG {
class MMORPGPacket;
}

// The window's request handler: (user value, packet) -> true when it answered.
typedef bool (*StatusRequestHandler)(void* user, MMORPG::MMORPGPacket* packet);
// A request function without a user value.
typedef bool (*StatusRequestFunc)(MMORPG::MMORPGPacket* packet);

class ISSLogicProcess {
 public:
  // Stores the script queueing flag (registering the script module when it is on) and
  // creates the request thread suspended; the core's Start, or 0 when the thread could not
  // be created.
  virtual int Start(bool scriptQueueing) = 0;          // 1
  virtual bool Connect(const char* ip, int port) = 0;  // 2
  // Lets the request thread run; 0 without a thread.
  virtual int Resume() = 0;  // 3
  // Ends the request thread and waits for it; 0 without a thread.
  virtual int Stop() = 0;        // 4
  virtual bool IsRunning() = 0;  // 5
  virtual void SendLogin() = 0;  // 6
  // The name is cut to 59 characters; a null name changes nothing.
  virtual void SetServerInfo(const char* name, int serverType, int lineId) = 0;  // 7
  virtual int GetServerType() = 0;                                               // 8
  virtual int GetLineId() = 0;                                                   // 9
  virtual void SetLineId(int lineId) = 0;                                        // 10
  // One message through the core; uses nothing of the link object.
  virtual bool SendPack(const char* head, int headLen, const char* body, int bodyLen) = 0;  // 11
  // The script step: every queued message to the status script.
  virtual bool RunStatusScript() = 0;                                            // 12
  virtual bool PopScriptPack(MMORPG::MMORPGPacket* packet) = 0;                  // 13
  virtual int GetScriptPackCount() = 0;                                          // 14
  virtual void SetRequestHandler(StatusRequestHandler handler, void* user) = 0;  // 15
  virtual void SetRequestFunc(StatusRequestFunc func) = 0;                       // 16
  // Stops and shuts the core down, destroys the link and forgets it.
  virtual void ReleaseLink() = 0;  // 17

 protected:
  ~ISSLogicProcess() = default;
};
