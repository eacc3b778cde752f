#include "CMapFileLoader.h"

#include "GameDataLog.h"
#include "TextFields.h"
#include "common/Utils.h"

namespace gamedata {

namespace {

constexpr int kFieldCount = 9;

bool IsServerNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
}

}  // namespace

void CMapFileLoader::Clear() {
  m_Items.clear();
  m_Texts.clear();
  m_Path.clear();
  m_ErrorCount = 0;
  m_LastErrorText.clear();
  m_DebugLoad = false;
}

tagMapItem* CMapFileLoader::FindMapItem(int mapId) {
  for (auto& item : m_Items)
    if (item.MapID == mapId) return &item;
  return nullptr;
}

tagMapItem* CMapFileLoader::GetMapItem(int index) {
  if (index < 0 || index >= static_cast<int>(m_Items.size())) return nullptr;
  return &m_Items[static_cast<size_t>(index)];
}

void CMapFileLoader::Skip(const std::string& sourceName, int lineNumber, const std::string& reason) {
  ++m_ErrorCount;
  m_LastErrorText = FormatText("CMapFileLoader::LoadMapFile %s(%d): %s, line skipped", sourceName.c_str(), lineNumber,
                               reason.c_str());
  GameDataLog()->LogWarn("%s", m_LastErrorText.c_str());
}

bool CMapFileLoader::LoadMapFile(const char* path, int debugFlag) {
  Clear();
  m_Path = path != nullptr ? path : "";
  m_DebugLoad = debugFlag != 0;
  std::string text;
  std::string error;
  if (m_Path.empty()) error = "no file name given";
  if (!error.empty() || !ReadTextFile(m_Path, kMaxFileBytes, text, error)) {
    m_ErrorCount = 1;
    m_LastErrorText = FormatText("CMapFileLoader::LoadMapFile can't read %s: %s", m_Path.c_str(), error.c_str());
    GameDataLog()->LogError("%s", m_LastErrorText.c_str());
    return false;
  }
  LoadMapText(text, m_Path, debugFlag);
  return true;
}

void CMapFileLoader::LoadMapText(const std::string& text, const std::string& sourceName, int debugFlag) {
  m_Items.clear();
  m_Texts.clear();
  m_ErrorCount = 0;
  m_LastErrorText.clear();
  m_DebugLoad = debugFlag != 0;

  std::vector<tagMapItem> items;
  std::vector<std::string> fields;
  std::vector<std::string> lines = SplitLines(text);
  for (size_t n = 0; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    int lineNumber = static_cast<int>(n) + 1;
    if (line.find('\0') != std::string::npos) {
      Skip(sourceName, lineNumber, "the line holds a zero byte");
      continue;
    }
    std::string error;
    if (!SplitFields(line, fields, error)) {
      Skip(sourceName, lineNumber, error);
      continue;
    }
    if (fields.empty()) continue;  // blank or comment line
    if (static_cast<int>(fields.size()) != kFieldCount) {
      Skip(sourceName, lineNumber,
           FormatText("expected %d fields, found %d", kFieldCount, static_cast<int>(fields.size())));
      continue;
    }

    tagMapItem item{};
    static const char* const kNumberNames[] = {"MapID",   "SortKey", "LineID",       "MaxPlayer",
                                               "MapType", "FBLimit", "MapManagerNum"};
    static const int kNumberColumns[] = {0, 3, 4, 5, 6, 7, 8};
    int32_t* const targets[] = {&item.MapID,   &item.SortKey, &item.LineID,       &item.MaxPlayer,
                                &item.MapType, &item.FBLimit, &item.MapManagerNum};
    bool numbersOk = true;
    for (int k = 0; k < 7 && numbersOk; ++k) {
      const std::string& field = fields[static_cast<size_t>(kNumberColumns[k])];
      if (!TextToInt(field, *targets[k])) {
        Skip(sourceName, lineNumber, FormatText("%s is not a 32-bit integer: \"%s\"", kNumberNames[k], field.c_str()));
        numbersOk = false;
      }
    }
    if (!numbersOk) continue;
    if (item.MapID <= 0) {
      Skip(sourceName, lineNumber, FormatText("MapID %d is not positive", item.MapID));
      continue;
    }
    const std::string& serverName = fields[1];
    bool nameOk = !serverName.empty();
    for (char c : serverName) nameOk = nameOk && IsServerNameChar(c);
    if (!nameOk) {
      Skip(sourceName, lineNumber,
           FormatText("ServerName \"%s\" may hold only letters, digits, '_', '-' and '.'", serverName.c_str()));
      continue;
    }
    m_Texts.push_back({serverName, fields[2]});
    items.push_back(item);
    if (m_DebugLoad)
      GameDataLog()->LogDebug(
          "CMapFileLoader::LoadMapFile MapID = %d, ServerName = %s, MapName = %s, MapManagerNum = %d", item.MapID,
          serverName.c_str(), fields[2].c_str(), item.MapManagerNum);
  }
  // The texts are complete now, so the pointers into them stay put until the next load.
  for (size_t i = 0; i < items.size(); ++i) {
    items[i].ServerName = m_Texts[i].ServerName.c_str();
    items[i].MapName = m_Texts[i].MapName.c_str();
  }
  m_Items = std::move(items);
  GameDataLog()->LogInfo("CMapFileLoader::LoadMapFile %s: %d maps loaded, %d lines skipped", sourceName.c_str(),
                         static_cast<int>(m_Items.size()), m_ErrorCount);
}

}  // namespace gamedata
