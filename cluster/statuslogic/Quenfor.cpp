// The status logic component ("Quenfor.dll"): answers the common command "GetHostInfo"
// with facts about the machine, from a thread of its own through the send function the
// manager gave it, and declines every other message.
//
// The request entry runs on the manager's request thread and only copies what the answer
// needs into a bounded queue; the component's worker builds and sends the reply. The
// worker ends when the library is unloaded (or the process ends).
#include <sys/utsname.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "interfaces/IStatusLogic.h"
#include "interfaces/MMORPGPacket.h"
#include "interfaces/StatusWire.h"

using namespace statuswire;

namespace {

constexpr const char* kHostInfoCommand = "GetHostInfo";
// Requests waiting for the worker at most; further ones are declined.
constexpr std::size_t kMaxPending = 256;

struct Job {
  uint16_t EchoTag;
  tagCSVCommonCmd Request;
};

// "host=<name>;system=<kernel>;uptime=<s>;load=<1 5 15 min>;cpus=<n>;pid=<manager pid>"
std::string HostInfoText() {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  utsname system{};
  uname(&system);
  double uptime = 0;
  std::ifstream("/proc/uptime") >> uptime;
  std::string load1 = "0", load5 = "0", load15 = "0";
  std::ifstream("/proc/loadavg") >> load1 >> load5 >> load15;
  char text[768];
  std::snprintf(text, sizeof text, "host=%s;system=%s %s;uptime=%.0f;load=%s %s %s;cpus=%ld;pid=%d", host,
                system.sysname, system.release, uptime, load1.c_str(), load5.c_str(), load15.c_str(),
                sysconf(_SC_NPROCESSORS_ONLN), static_cast<int>(getpid()));
  return text;
}

class StatusLogic {
 public:
  ~StatusLogic() {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_Ending = true;
    }
    m_Wake.notify_all();
    if (m_Worker.joinable()) m_Worker.join();
  }

  void SetSend(PackSendFunc send) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Send = send;
    if (!m_Worker.joinable()) m_Worker = std::thread([this] { Work(); });
  }

  bool Offer(MMORPG::MMORPGPacket* packet) {
    if (packet == nullptr) return false;
    const char* body = packet->GetData();
    const int length = packet->GetDataLen();
    if (!IsBody(body, length, kClassCommonCmd, kSubCommonCmd) || length < kCommonCmdFixedLen) return false;
    Job job{packet->m_PackHead.EchoTag, {}};
    ParseCommonCmd(job.Request, body, length);
    if (job.Request.NameText() != kHostInfoCommand) return false;
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Send == nullptr || !m_Worker.joinable() || m_Pending.size() >= kMaxPending) return false;
    m_Pending.push_back(job);
    m_Wake.notify_one();
    return true;
  }

 private:
  void Work() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    for (;;) {
      m_Wake.wait(lock, [this] { return m_Ending || !m_Pending.empty(); });
      if (m_Ending) return;
      const Job job = m_Pending.front();
      m_Pending.pop_front();
      PackSendFunc send = m_Send;
      lock.unlock();
      const std::string result = HostInfoText();
      const std::string body = CommonCmdReplyBody(job.Request, result.data(), static_cast<uint32_t>(result.size()));
      const std::string head = HeadBytes(ReplyHead(job.EchoTag));
      if (!send(head.data(), static_cast<int>(head.size()), body.data(), static_cast<int>(body.size())))
        std::fprintf(stderr, "Quenfor: the reply to %s could not be sent\n", kHostInfoCommand);
      lock.lock();
    }
  }

  std::mutex m_Mutex;
  std::condition_variable m_Wake;
  std::deque<Job> m_Pending;
  PackSendFunc m_Send = nullptr;
  bool m_Ending = false;
  std::thread m_Worker;
};

StatusLogic g_Logic;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void SetPackSendFunc(PackSendFunc send) { g_Logic.SetSend(send); }

__attribute__((visibility("default"))) bool OnStatusRequest(MMORPG::MMORPGPacket* packet) {
  return g_Logic.Offer(packet);
}
}
