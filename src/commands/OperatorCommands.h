// What the operator and other programs ask of the manager besides starting and stopping:
// the commands of the map list's pop-up menu on the selected map, the script path and debug
// module settings, the debug page, the script runner, and the copy-data commands of a
// controller program (close everything and exit, register the controller window).
//
// The main window's handlers pass what their controls hold (the selected row, the memo's
// text, the check box's state) and show what comes back; everything else goes through the
// launcher, the configuration and the dialogs in force, so tests drive this class without a
// display. Everything runs on the window thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class IConfig;
class ILaunchWindow;
class MapServerLauncher;
class MapServerInfo;

// Copy-data commands of the controller program.
constexpr uint32_t COPYDATA_CLOSE_ALL_AND_EXIT = 101;
constexpr uint32_t COPYDATA_REGISTER_CONTROLLER = 103;

class OperatorCommands {
 public:
  OperatorCommands(MapServerLauncher& launcher, IConfig& config, ILaunchWindow& window);

  // The map list's pop-up menu; `position` is the selected row, -1 when none.
  void StartSelected(int position);          // "Start/RestartThis"
  void CloseSelected(int position);          // "CloseThis"
  void ResetLogCountSelected(int position);  // "ResetLogCount"
  void BringToTop(int position);             // "Show"
  void MinimizeAll();                        // "Minimize"
  void StartRestartMap();                    // "Start/Restart Map": asks for a map id
  // Asks the map server of the map at `position` to zero its log counters, after asking
  // the operator; nothing when the map has no live map server.
  void ResetLogCount(int position);

  // "Browse...": the folder picker; on OK `scriptPath` becomes the chosen folder ending
  // with "/" and is stored as "edtScriptPath". False on cancel (nothing changed).
  bool BrowseScriptPath(std::string& scriptPath);
  // The debug module box was released with state `checked`; returns the box's state
  // afterwards (cleared when the operator cancels the confirmation).
  bool DebugModuleReleased(bool checked);

  // "btOutPutMsg": the memory figures of every map as one debug entry.
  void OutputMemory();
  // "Execute": the text goes to every map server with a record, cut to 1023 bytes.
  // Returns the number of records written.
  int ExecuteScript(const std::string& text);
  // "TestEurekaLog": after the operator agrees, ends the manager through a real access
  // fault on the calling thread, so that crash reporting writes its report with the call
  // stack. Map servers run in sessions of their own and keep running. Returns only when
  // the operator cancels.
  void TestCrashReport();

  // A copy-data message: `data` is taken as text of exactly its byte count.
  void HandleCopyData(uint32_t number, const std::vector<uint8_t>& data);
  // Copy data 101: with no player online, ends launching, kills every live map server, writes
  // "Close Success!", tells the controller and ends the process with exit code 0.
  void CloseAllAndExit();
  // Copy data 103: "class|title" names the controller window, which is told so.
  void RegisterController(const std::string& text);

 private:
  MapServerInfo* MapAt(int position) const;

  MapServerLauncher& m_Launcher;
  IConfig& m_Config;
  ILaunchWindow& m_Window;
};
