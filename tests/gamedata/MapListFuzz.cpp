#include "MapListFuzz.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CMapFileLoader.h"
#include "support/RecordingLog.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "Map list invariant broken: %s\n", what);
  std::abort();
}

bool IsServerNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
}

// What a load gave, to compare two loads of the same text.
std::string Summary(gamedata::CMapFileLoader& loader) {
  std::string out = std::to_string(loader.GetErrorCount()) + "|";
  for (int i = 0; i < loader.GetMapCount(); ++i) {
    const tagMapItem* item = loader.GetMapItem(i);
    out += std::string(item->ServerName) + "," + std::to_string(item->MapID) + "," + item->MapName + "," +
           std::to_string(item->SortKey) + "," + std::to_string(item->FBLimit) + "," +
           std::to_string(item->MapManagerNum) + ";";
  }
  return out;
}

}  // namespace

int FuzzMapList(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  RecordingLog log;
  const int debugFlag = data[0] & 1;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  gamedata::CMapFileLoader loader;
  loader.LoadMapText(text, "fuzz", debugFlag);

  // Every item is one the manager can use: a key of letters, digits, '_', '-' and '.', a
  // positive id, texts that end inside their buffers.
  const int count = loader.GetMapCount();
  for (int i = 0; i < count; ++i) {
    const tagMapItem* item = loader.GetMapItem(i);
    if (item == nullptr || item->ServerName == nullptr || item->MapName == nullptr) Fail("an item without its texts");
    const std::size_t nameLength = std::strlen(item->ServerName);
    if (nameLength == 0) Fail("an empty server name");
    for (std::size_t k = 0; k < nameLength; ++k)
      if (!IsServerNameChar(item->ServerName[k])) Fail("a server name with a character outside the rules");
    if (std::strlen(item->MapName) > text.size()) Fail("a map name longer than the file");
    if (item->MapID <= 0) Fail("a map id that is not positive");
    const tagMapItem* found = loader.FindMapItem(item->MapID);
    if (found == nullptr || found->MapID != item->MapID || found > item) Fail("FindMapItem misses the first item");
  }
  if (loader.GetMapItem(-1) != nullptr || loader.GetMapItem(count) != nullptr) Fail("an item outside the list");

  // One warning per skipped line, and the count says so; with the debug flag one debug
  // line per map.
  if (static_cast<int>(log.Texts(llWarn).size()) != loader.GetErrorCount()) Fail("skipped lines and warnings differ");
  if (static_cast<int>(log.Texts(llDebug).size()) != (debugFlag ? count : 0)) Fail("debug lines and maps differ");
  if (loader.GetErrorCount() > 0 && *loader.GetLastErrorText() == '\0') Fail("a skip without its reason");

  // Loading the same text again gives the same list.
  const std::string first = Summary(loader);
  loader.LoadMapText(text, "fuzz", debugFlag);
  if (Summary(loader) != first) Fail("a second load differs");
  loader.Clear();
  if (loader.GetMapCount() != 0) Fail("Clear left maps");
  return 0;
}
