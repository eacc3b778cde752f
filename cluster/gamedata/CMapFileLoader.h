// The map file loader: reads the map list "MapID.txt", one map per line.
//
//   # MapID  ServerName  MapName  SortKey  LineID  MaxPlayer  MapType  FBLimit  MapManagerNum
//   1        Map         "新手村"  1        1       500        0        0        1
//
// Nine fields separated by blanks or tabs; a field in double quotes may hold blanks; '#'
// at the start of a field begins a comment. MapID is a positive integer, ServerName is
// made of letters, digits, '_', '-' and '.' (it names the map's shared record and appears
// on the map server's command line), MapName is any text (GBK allowed), the other six are
// integers. A line that breaks these rules is skipped with a warning naming the file, the
// line number and the reason; loading goes on. Duplicate map ids are kept: the manager
// decides what to do with them.
#pragma once

#include <string>
#include <vector>

#include "interfaces/IGameData.h"

namespace gamedata {

class CMapFileLoader final : public IMapFileLoader {
 public:
  // Forgets the loaded map file; earlier items become invalid.
  void Clear() override;
  const char* GetMapFilePath() override { return m_Path.c_str(); }
  // The first item with that map id, or null.
  tagMapItem* FindMapItem(int mapId) override;
  // Lines skipped by the last load, and the last reason written.
  int GetErrorCount() override { return m_ErrorCount; }
  const char* GetLastErrorText() override { return m_LastErrorText.c_str(); }
  bool IsDebugLoad() override { return m_DebugLoad; }
  int GetMapCount() override { return static_cast<int>(m_Items.size()); }
  tagMapItem* GetMapItem(int index) override;
  // Loads the file; the items stay valid until the next load or Clear. With debug flag 1
  // every loaded map is also written at the debug level. False when the file cannot be
  // read (no items then).
  bool LoadMapFile(const char* path, int debugFlag) override;

  // Parses a map list's text; `sourceName` names it in the log lines.
  void LoadMapText(const std::string& text, const std::string& sourceName, int debugFlag);

  // The largest map file read.
  static constexpr std::size_t kMaxFileBytes = 64u << 20;

 private:
  void Skip(const std::string& sourceName, int lineNumber, const std::string& reason);

  struct Texts {
    std::string ServerName;
    std::string MapName;
  };
  std::vector<Texts> m_Texts;  // the item texts, which the items point into
  std::vector<tagMapItem> m_Items;
  std::string m_Path;
  int m_ErrorCount = 0;
  std::string m_LastErrorText;
  bool m_DebugLoad = false;
};

}  // namespace gamedata
