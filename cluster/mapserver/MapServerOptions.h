// The map server's command line and its misbehaviour switches.
//
// One map:   <exe> <key> <version> <debug> <scriptpath> MapManager [--fault=key:kind ...]
// All maps:  <exe> ALL <version> <debug> <scriptpath> MapManager <mapManagerNum> <key1> <key2> ...
//            [--fault=key:kind ...]
// A script path with blanks arrives split into several words; the words between the debug
// flag and "MapManager" are joined again. An empty script path (two blanks in a row) leaves
// no word at all and reads as "".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mapserver {

// Ways a map can be told to misbehave, for exercising the manager's supervision.
enum class FaultKind {
  Crash,         // the process dies by a fatal signal
  Hang,          // the map stops raising its heartbeat and stops answering, the process lives
  IgnoreClose,   // CloseRequest is seen and ignored
  State4,        // reports state 4 (script error)
  State5,        // reports state 5 (program error)
  State6,        // reports state 6 (disconnected)
  Unterminated,  // MsgText and the three time texts fill their buffers without a zero byte
};

struct FaultSpec {
  std::string Key;  // a map key, or "*" for every map
  FaultKind Kind = FaultKind::Crash;
  int DelaySeconds = 2;  // after the map reaches "Running"
};

// Seconds a fault waits after "Running" when the switch names no delay.
constexpr int kDefaultFaultDelaySeconds = 2;

struct MapServerOptions {
  bool AllMode = false;
  std::vector<std::string> Keys;  // one key, or the map list of ALL mode (duplicates removed)
  int ServerVersion = 0;
  bool Debug = false;
  std::string ScriptPath;                  // as given, "\" not yet mapped
  int MapManagerNum = 0;                   // ALL mode only
  std::vector<FaultSpec> Faults;           // from --fault arguments
  std::vector<std::string> DuplicateKeys;  // dropped from the ALL list, for the log
};

// Parses argv[1..]. False with `error` set when the command line is malformed.
bool ParseMapServerArgs(const std::vector<std::string>& args, MapServerOptions& options, std::string& error);

// Parses one "key:kind[@seconds]" switch. False with `error` set when it is malformed.
bool ParseFaultSpec(const std::string& text, FaultSpec& fault, std::string& error);

// Parses a comma-separated list (the VEMO_MS_FAULTS variable). Good entries go to `faults`;
// each bad one adds a text to `errors` and is skipped.
void ParseFaultList(const std::string& text, std::vector<FaultSpec>& faults, std::vector<std::string>& errors);

const char* FaultKindName(FaultKind kind);

// The usage text written to standard error for a malformed command line.
std::string UsageText(const std::string& programName);

}  // namespace mapserver
