// The launch-control component: lets a program of the same user start and stop the
// manager's service without an operator. It listens on a local socket (HalvixSocket.h),
// and answers each command from inside Poll, on the manager's window thread, with the
// result of the manager's callback; notifications of the service go to every open
// connection as "event" lines.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

#include "interfaces/ILaunchControl.h"

class CHalvix final : public ILaunchControl {
 public:
  CHalvix() = default;
  ~CHalvix();
  CHalvix(const CHalvix&) = delete;
  CHalvix& operator=(const CHalvix&) = delete;

  bool Init(LaunchControlCallback requestStart, LaunchControlCallback requestStop, int reserved) override;
  void Poll() override;
  void NotifyInitialized() override { Broadcast("initialized", "idle"); }
  void NotifyStarting() override { Broadcast("starting", "starting"); }
  void NotifyStarted() override { Broadcast("started", "started"); }
  void NotifyStopping() override { Broadcast("stopping", "stopping"); }
  void NotifyStopped() override { Broadcast("stopped", "stopped"); }
  // Start and stop are refused from now on; a stop under way is answered as an error.
  void NotifyClosing() override { m_Closing = true; }

  const std::string& SocketPath() const { return m_SocketPath; }

 private:
  struct Connection {
    int fd = -1;
    std::string input;
    std::string output;
    bool inCallback = false;  // its start or stop runs; it is neither read nor closed meanwhile
    bool closeWhenSent = false;
    bool broken = false;
  };

  void Accept();
  void Serve(int id);
  void Execute(int id, const std::string& command);
  void Queue(int id, const std::string& line);
  void Broadcast(const char* event, const char* state);
  void Flush(Connection& connection);
  void CloseFinished();
  void RemoveStaleSockets(const std::string& dir) const;

  LaunchControlCallback m_RequestStart = nullptr;
  LaunchControlCallback m_RequestStop = nullptr;
  int m_Listener = -1;
  std::string m_SocketPath;
  std::map<int, Connection> m_Connections;
  int m_NextId = 1;
  int m_CallbackDepth = 0;       // a start or stop callback runs (Poll is re-entered meanwhile)
  std::string m_State = "idle";  // the service as the notifications tell it
  bool m_Closing = false;        // the manager's window is closing
};
