// Stand-ins for what the launching code asks of the rest of the manager: the configuration
// kept in memory and a window without a display. The launch, command and metrics tests and
// the benchmarks drive the real launcher with them.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "MemoryConfig.h"
#include "launch/ILaunchWindow.h"

// Thrown by EndProcess, so that a test sees the end instead of losing its process.
struct ProcessEnded {
  int exitCode;
};

// The window's side, recorded.
class TestWindow : public ILaunchWindow {
 public:
  void SetServiceStarted() override { startEnabled = false; }
  bool IsStartEnabled() override { return startEnabled; }
  void SetServerVersionText(const std::string& text) override { serverVersionText = text; }
  void SetCaption(const std::string& text) override { caption = text; }
  void SetMapCount(int count) override { mapCount = count; }
  bool IsStartInCmdLineChecked() override { return startInCmdLine; }
  void ShowStatePage() override { ++statePageShown; }
  void ProcessMessages() override {
    ++messagesProcessed;
    if (onProcessMessages) onProcessMessages();
  }
  bool IsClosing() override { return closing; }
  [[noreturn]] void EndProcess(int exitCode) override { throw ProcessEnded{exitCode}; }

  bool startEnabled = true;
  bool startInCmdLine = true;
  bool closing = false;
  std::string serverVersionText, caption;
  int mapCount = -1;
  int statePageShown = 0;
  int messagesProcessed = 0;
  std::function<void()> onProcessMessages;
};
