#include "MapServerOptions.h"

#include <algorithm>

#include "text/Text.h"

namespace mapserver {
namespace {

constexpr const char* kManagerWord = "MapManager";
constexpr const char* kFaultOption = "--fault=";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

struct KindName {
  const char* Name;
  FaultKind Kind;
};
constexpr KindName kKindNames[] = {
    {"crash", FaultKind::Crash},
    {"hang", FaultKind::Hang},
    {"ignoreclose", FaultKind::IgnoreClose},
    {"state4", FaultKind::State4},
    {"state5", FaultKind::State5},
    {"state6", FaultKind::State6},
    {"unterminated", FaultKind::Unterminated},
};

}  // namespace

const char* FaultKindName(FaultKind kind) {
  for (const KindName& entry : kKindNames) {
    if (entry.Kind == kind) return entry.Name;
  }
  return "?";
}

bool ParseFaultSpec(const std::string& text, FaultSpec& fault, std::string& error) {
  // The key itself may contain ':' only in theory; map keys are "<name>_<id>", so the last
  // ':' separates key and kind.
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
    error = "fault \"" + text + "\" is not key:kind";
    return false;
  }
  FaultSpec result;
  result.Key = text.substr(0, colon);
  std::string kind = text.substr(colon + 1);
  result.DelaySeconds = kDefaultFaultDelaySeconds;
  std::size_t at = kind.find('@');
  if (at != std::string::npos) {
    int delay = 0;
    if (!TextToInt(kind.substr(at + 1), delay) || delay < 0) {
      error = "fault \"" + text + "\" has a bad delay (seconds, 0 or more)";
      return false;
    }
    result.DelaySeconds = delay;
    kind.resize(at);
  }
  kind = AsciiLower(kind);
  bool known = false;
  for (const KindName& entry : kKindNames) {
    if (kind == entry.Name) {
      result.Kind = entry.Kind;
      known = true;
    }
  }
  if (!known) {
    error = "fault \"" + text +
            "\" names an unknown kind (crash, hang, ignoreclose, state4, state5, "
            "state6, unterminated)";
    return false;
  }
  fault = result;
  return true;
}

void ParseFaultList(const std::string& text, std::vector<FaultSpec>& faults, std::vector<std::string>& errors) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    std::string entry = TrimText(text.substr(start, comma - start));
    if (!entry.empty()) {
      FaultSpec fault;
      std::string error;
      if (ParseFaultSpec(entry, fault, error)) {
        faults.push_back(fault);
      } else {
        errors.push_back(error);
      }
    }
    start = comma + 1;
  }
}

bool ParseMapServerArgs(const std::vector<std::string>& args, MapServerOptions& options, std::string& error) {
  MapServerOptions result;
  // Fixed words: key, version, debug, script path words, "MapManager".
  auto manager = std::find(args.begin() + std::min<std::size_t>(args.size(), 3), args.end(), std::string(kManagerWord));
  if (args.size() < 4 || manager == args.end()) {
    error =
        "expected \"<key> <version> <debug> <scriptpath> MapManager\" or \"ALL <version> <debug> "
        "<scriptpath> MapManager <mapManagerNum> <key1> <key2> ...\"";
    return false;
  }
  const std::string& key = args[0];
  if (key.empty() || StartsWith(key, "--")) {
    error = "the first argument must be a map key or ALL";
    return false;
  }
  result.AllMode = key == "ALL";
  if (!TextToInt(args[1], result.ServerVersion)) {
    error = "server version \"" + args[1] + "\" is not a number";
    return false;
  }
  int debug = 0;
  if (!TextToInt(args[2], debug) || (debug != 0 && debug != 1)) {
    error = "debug flag \"" + args[2] + "\" is not 0 or 1";
    return false;
  }
  result.Debug = debug == 1;
  for (auto word = args.begin() + 3; word != manager; ++word) {
    if (!result.ScriptPath.empty()) result.ScriptPath += ' ';
    result.ScriptPath += *word;
  }

  std::vector<std::string> rest;
  for (auto word = manager + 1; word != args.end(); ++word) {
    if (StartsWith(*word, kFaultOption)) {
      FaultSpec fault;
      if (!ParseFaultSpec(word->substr(std::string(kFaultOption).size()), fault, error)) return false;
      result.Faults.push_back(fault);
    } else if (StartsWith(*word, "--")) {
      error = "unknown option \"" + *word + "\"";
      return false;
    } else if (!word->empty()) {
      rest.push_back(*word);
    }
  }

  if (!result.AllMode) {
    if (!rest.empty()) {
      error = "unexpected argument \"" + rest.front() + "\" after MapManager for a single map";
      return false;
    }
    result.Keys.push_back(key);
  } else {
    if (rest.empty() || !TextToInt(rest.front(), result.MapManagerNum)) {
      error = "ALL needs a map manager number after MapManager";
      return false;
    }
    for (std::size_t i = 1; i < rest.size(); ++i) {
      if (std::find(result.Keys.begin(), result.Keys.end(), rest[i]) != result.Keys.end()) {
        result.DuplicateKeys.push_back(rest[i]);
      } else {
        result.Keys.push_back(rest[i]);
      }
    }
    if (result.Keys.empty()) {
      error = "ALL needs at least one map key after the map manager number";
      return false;
    }
  }
  options = std::move(result);
  return true;
}

std::string UsageText(const std::string& programName) {
  return "usage: " + programName +
         " <key> <version> <debug> <scriptpath> MapManager [--fault=key:kind[@s]]...\n"
         "       " +
         programName +
         " ALL <version> <debug> <scriptpath> MapManager <mapManagerNum> <key1> "
         "<key2> ... [--fault=key:kind[@s]]...\n"
         "  key: <server name>_<map id>; version: a number; debug: 0 or 1\n"
         "  fault kinds: crash, hang, ignoreclose, state4, state5, state6, unterminated\n"
         "  (also VEMO_MS_FAULTS=\"key:kind[@s],...\" in the environment; key * means every map)\n";
}

}  // namespace mapserver
