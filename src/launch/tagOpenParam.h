// One map server process of single-server mode: every map of one map manager number is
// served by one process started with "ALL" and the list of their keys.
#pragma once

#include <cstdint>
#include <string>

#include "platform/process_handle.h"
#include "platform/process_launch.h"

struct tagOpenParam {
  uint32_t MapManagerNum = 0;                // the key in the single-server launch list
  std::string MapList;                       // "<key> " for each map, in list order
  platform::ProcessInformation ProcessInfo;  // from the launch; its handle is Owner's
  platform::ProcessHandle Owner;             // closes the launch's handle with the entry

  tagOpenParam() = default;
  tagOpenParam(const tagOpenParam&) = delete;
  tagOpenParam& operator=(const tagOpenParam&) = delete;
};
