// The system tables that the share data holds, read from text files in the directory
// "MapServerData/SysTable/" beside the executable when they are there:
//
//   Player.txt   Level  Exp  MaxHP  MaxMP            one row per level
//   Item.txt     ItemID  Name  Type  MaxStack  Price  one row per item template
//
// Same field rules as the map list (blanks or tabs, quotes, '#' comments). A table whose
// file is missing comes from the built-in defaults; a row that breaks the rules is
// skipped with a warning.
#pragma once

#include <string>
#include <vector>

#include "ShareData.h"

namespace gamedata {

struct SysTables {
  std::vector<tagSharePlayerRow> Players;
  std::vector<tagShareItemRow> Items;
};

// Parsers take text; `sourceName` names the text in the `errors` lines.
void ParsePlayerTable(const std::string& text, const std::string& sourceName, std::vector<tagSharePlayerRow>& rows,
                      std::vector<std::string>& errors);
void ParseItemTable(const std::string& text, const std::string& sourceName, std::vector<tagShareItemRow>& rows,
                    std::vector<std::string>& errors);

// Built-in tables: levels 1 to 100 and a small set of item templates.
std::vector<tagSharePlayerRow> DefaultPlayerTable();
std::vector<tagShareItemRow> DefaultItemTable();

// Loads both tables from `directory` (ending in "/"), each falling back to its defaults
// when its file is missing. `sources` names where each came from.
void LoadSysTables(const std::string& directory, SysTables& tables, std::vector<std::string>& errors,
                   std::string& sources);

}  // namespace gamedata
