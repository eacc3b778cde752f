// What the message bus keeps tidy besides delivering: the files of this process's endpoints,
// which must go even when the process ends at once, and the datagrams of other users, which
// are dropped and counted rather than logged one by one.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace platform::bus {

// Notes an endpoint's files ("<base>.info" and "<base>.sock"), so that an immediate end of
// the process (EndProcess) removes them; Forget when the endpoint closes.
void NoteOpenEndpoint(const std::string& base);
void ForgetOpenEndpoint(const std::string& base);

// Datagrams from other users that one endpoint dropped: the first one is reported at once,
// later ones as one count at most once a minute (on the next datagram after the minute).
class ForeignDatagrams {
 public:
  void Dropped(uid_t uid);
  // Reports what was counted, when a minute has passed since the last report.
  void Report();

 private:
  bool m_Reported = false;
  uint32_t m_LastReport = 0;
  unsigned long long m_Count = 0;  // dropped since the last report
  uid_t m_LastUid = 0;
};

}  // namespace platform::bus
