// A second process on a map's shared record, playing the map server's side:
//
//   registry_peer serve   <segment>   writes a live record, keeps its heartbeat raised
//   registry_peer hostile <segment>   writes texts without closing zero bytes, negative
//                                     counts and a state out of range
//
// Either way it then waits (up to 60 s) for CloseRequest, answers by writing State 0 and
// ends with exit code 0; 2 when the record cannot be opened, 3 on time-out.
#include <cstring>
#include <string>

#include "interfaces/tagMapServerData.h"
#include "platform/process.h"
#include "registry/AShareStructObj.h"
#include "registry/RecordText.h"

int main(int argc, char** argv) {
  if (argc != 3) return 1;
  std::string mode = argv[1];
  AShareStructObj<tagMapServerData> share(argv[2]);
  tagMapServerData* record = share.GetData();
  if (record == nullptr) return 2;

  if (mode == "hostile") {
    std::memset(record->MsgText, 'M', sizeof record->MsgText);
    std::memset(record->LastErrorTime, 'E', sizeof record->LastErrorTime);
    std::memset(record->LastFatalTime, 'F', sizeof record->LastFatalTime);
    std::memset(record->LastPyErrorTime, 'P', sizeof record->LastPyErrorTime);
    record->PlayerCnt = -5;
    record->MaxPlayerCnt = -1;
    record->ItemCnt = -7;
    std::memset(record->LogLevelCounts, 0xFF, sizeof record->LogLevelCounts);
    record->State = 99;
  } else {
    record->PlayerCnt = 42;
    record->MaxPlayerCnt = 500;
    record->FPS = 25;
    record->Hwnd = 0x1234;
    record->StreamSaveCostTime = 1.5f;
    record->LogLevelCounts[6] = 3;
    WriteRecordText(record->MsgText, "peer " + std::to_string(platform::CurrentProcessId()));
    WriteRecordText(record->LastErrorTime, "2026-12-09 10:11:12");
    record->State = 3;
  }

  for (int waited = 0; waited < 60000; waited += 10) {
    if (mode != "hostile") record->HeartBeat = 10;
    if (record->CloseRequest == 1) {
      record->State = 0;
      return 0;
    }
    platform::SleepMs(10);
  }
  return 3;
}
