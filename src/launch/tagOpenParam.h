// One map server process of single-server mode: every map of one map manager number is
// served by one process started with "ALL" and the list of their keys.
#pragma once

#include <cstdint>
#include <string>

#include "platform/process.h"

struct tagOpenParam {
  uint32_t MapManagerNum = 0;                // the key in the single-server launch list
  std::string MapList;                       // "<key> " for each map, in list order
  platform::ProcessInformation ProcessInfo;  // from the launch; its handle belongs to this

  tagOpenParam() = default;
  tagOpenParam(const tagOpenParam&) = delete;
  tagOpenParam& operator=(const tagOpenParam&) = delete;
  ~tagOpenParam() { platform::CloseProcessHandles(ProcessInfo); }
};
