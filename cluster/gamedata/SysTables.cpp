#include "SysTables.h"

#include <cstring>

#include "TextFields.h"
#include "common/Utils.h"
#include "platform/paths.h"

namespace gamedata {

namespace {

constexpr std::size_t kMaxTableBytes = 16u << 20;

// Splits every line and hands the fields of each non-empty one to `row`, which returns
// an error text or "".
template <typename RowFn>
void ForEachRow(const std::string& text, const std::string& sourceName, std::vector<std::string>& errors, RowFn row) {
  std::vector<std::string> lines = SplitLines(text);
  std::vector<std::string> fields;
  for (size_t n = 0; n < lines.size(); ++n) {
    std::string error;
    if (lines[n].find('\0') != std::string::npos) {
      error = "the line holds a zero byte";
    } else if (SplitFields(lines[n], fields, error)) {
      if (fields.empty()) continue;
      error = row(fields);
    }
    if (!error.empty())
      errors.push_back(
          FormatText("%s(%d): %s, line skipped", sourceName.c_str(), static_cast<int>(n) + 1, error.c_str()));
  }
}

std::string ParseNumbers(const std::vector<std::string>& fields, const std::vector<size_t>& columns,
                         const std::vector<const char*>& names, const std::vector<int32_t*>& targets) {
  for (size_t k = 0; k < columns.size(); ++k) {
    if (!TextToInt(fields[columns[k]], *targets[k]))
      return FormatText("%s is not a 32-bit integer: \"%s\"", names[k], fields[columns[k]].c_str());
  }
  return "";
}

}  // namespace

void ParsePlayerTable(const std::string& text, const std::string& sourceName, std::vector<tagSharePlayerRow>& rows,
                      std::vector<std::string>& errors) {
  ForEachRow(text, sourceName, errors, [&](const std::vector<std::string>& f) -> std::string {
    if (f.size() != 4) return FormatText("expected 4 fields, found %d", static_cast<int>(f.size()));
    tagSharePlayerRow row{};
    std::string error = ParseNumbers(f, {0, 1, 2, 3}, {"Level", "Exp", "MaxHP", "MaxMP"},
                                     {&row.Level, &row.Exp, &row.MaxHP, &row.MaxMP});
    if (!error.empty()) return error;
    rows.push_back(row);
    return "";
  });
}

void ParseItemTable(const std::string& text, const std::string& sourceName, std::vector<tagShareItemRow>& rows,
                    std::vector<std::string>& errors) {
  ForEachRow(text, sourceName, errors, [&](const std::vector<std::string>& f) -> std::string {
    if (f.size() != 5) return FormatText("expected 5 fields, found %d", static_cast<int>(f.size()));
    tagShareItemRow row{};
    std::string error = ParseNumbers(f, {0, 2, 3, 4}, {"ItemID", "Type", "MaxStack", "Price"},
                                     {&row.ItemID, &row.Type, &row.MaxStack, &row.Price});
    if (!error.empty()) return error;
    if (f[1].size() >= sizeof row.Name)
      return FormatText("Name \"%s\" is longer than %d bytes", f[1].c_str(), static_cast<int>(sizeof row.Name) - 1);
    std::memcpy(row.Name, f[1].data(), f[1].size());
    rows.push_back(row);
    return "";
  });
}

std::vector<tagSharePlayerRow> DefaultPlayerTable() {
  std::vector<tagSharePlayerRow> rows;
  for (int32_t level = 1; level <= 100; ++level)
    rows.push_back({level, 100 * level * level, 100 + 20 * level, 50 + 10 * level});
  return rows;
}

std::vector<tagShareItemRow> DefaultItemTable() {
  struct Template {
    int32_t id, type, maxStack, price;
    const char* name;
  };
  static const Template kTemplates[] = {
      {1001, 1, 1, 100, "Wooden Sword"},   {1002, 1, 1, 450, "Iron Sword"},       {2001, 2, 1, 120, "Cloth Armour"},
      {2002, 2, 1, 520, "Leather Armour"}, {3001, 3, 99, 10, "Healing Herb"},     {3002, 3, 99, 25, "Mana Herb"},
      {4001, 4, 999, 1, "Copper Ore"},     {5001, 5, 1, 0, "Town Portal Scroll"},
  };
  std::vector<tagShareItemRow> rows;
  for (const auto& t : kTemplates) {
    tagShareItemRow row{};
    row.ItemID = t.id;
    row.Type = t.type;
    row.MaxStack = t.maxStack;
    row.Price = t.price;
    std::strncpy(row.Name, t.name, sizeof row.Name - 1);
    rows.push_back(row);
  }
  return rows;
}

void LoadSysTables(const std::string& directory, SysTables& tables, std::vector<std::string>& errors,
                   std::string& sources) {
  tables = SysTables();
  std::string text;
  std::string error;

  std::string playerPath = directory + "Player.txt";
  if (platform::FileExists(playerPath) && ReadTextFile(playerPath, kMaxTableBytes, text, error)) {
    ParsePlayerTable(text, playerPath, tables.Players, errors);
    sources = playerPath;
  } else {
    if (!error.empty()) errors.push_back(FormatText("%s: %s, defaults used", playerPath.c_str(), error.c_str()));
    tables.Players = DefaultPlayerTable();
    sources = "built-in player table";
  }

  error.clear();
  std::string itemPath = directory + "Item.txt";
  if (platform::FileExists(itemPath) && ReadTextFile(itemPath, kMaxTableBytes, text, error)) {
    ParseItemTable(text, itemPath, tables.Items, errors);
    sources += ", " + itemPath;
  } else {
    if (!error.empty()) errors.push_back(FormatText("%s: %s, defaults used", itemPath.c_str(), error.c_str()));
    tables.Items = DefaultItemTable();
    sources += ", built-in item table";
  }
}

}  // namespace gamedata
