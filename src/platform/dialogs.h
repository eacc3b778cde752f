// Operator dialogs: one interface for the questions and boxes the manager shows.
//
// The Qt implementation belongs to the main window; the scripted one records every
// text and caption and answers as a test says; the console one (the default) writes
// to standard error and answers Cancel, for programs without a window.
#pragma once

#include <deque>
#include <string>
#include <vector>

namespace platform {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // OK/Cancel question; true for OK.
  virtual bool Ask(const std::string& text, const std::string& caption) = 0;
  // A plain message (ShowMessage).
  virtual void Message(const std::string& text) = 0;
  // A topmost error box.
  virtual void ErrorBox(const std::string& text, const std::string& caption) = 0;
  // An input box; true with `value` changed on OK.
  virtual bool InputBox(const std::string& caption, const std::string& prompt, std::string& value) = 0;
  // The folder picker; `path` holds the start and receives the choice. True on OK.
  virtual bool BrowseForFolder(const std::string& title, std::string& path) = 0;
};

// The dialogs in force; SetDialogs(nullptr) restores the console implementation.
Dialogs& CurrentDialogs();
void SetDialogs(Dialogs* dialogs);

class ConsoleDialogs : public Dialogs {
 public:
  bool Ask(const std::string& text, const std::string& caption) override;
  void Message(const std::string& text) override;
  void ErrorBox(const std::string& text, const std::string& caption) override;
  bool InputBox(const std::string& caption, const std::string& prompt, std::string& value) override;
  bool BrowseForFolder(const std::string& title, std::string& path) override;
};

// Records each dialog and answers from queues (OK, and the input/folder values) that
// a test fills; an empty answer queue answers Cancel.
class ScriptedDialogs : public Dialogs {
 public:
  struct Record {
    std::string kind;     // "Ask", "Message", "ErrorBox", "InputBox", "BrowseForFolder"
    std::string text;     // text, prompt or title
    std::string caption;  // caption, or "" for Message
  };
  std::vector<Record> records;
  std::deque<bool> answers;        // for Ask
  std::deque<std::string> values;  // for InputBox and BrowseForFolder (answer OK with the value)

  bool Ask(const std::string& text, const std::string& caption) override;
  void Message(const std::string& text) override;
  void ErrorBox(const std::string& text, const std::string& caption) override;
  bool InputBox(const std::string& caption, const std::string& prompt, std::string& value) override;
  bool BrowseForFolder(const std::string& title, std::string& path) override;
};

}  // namespace platform
