// The console and scripted dialogs, and the choice of the dialogs in force.
#include "platform/dialogs.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

std::atomic<Dialogs*> g_dialogs{nullptr};

void WriteToStderr(const std::string& kind, const std::string& caption, const std::string& text) {
  std::string line = "[" + kind + "] ";
  if (!caption.empty()) line += caption + ": ";
  line += text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

// Answers every dialog without showing it, for runs without an operator: the text and
// caption go to standard error, the answer is the one VEMO_UNATTENDED names.
class UnattendedDialogs : public Dialogs {
 public:
  explicit UnattendedDialogs(bool ok) : m_Ok(ok) {}
  bool Ask(const std::string& text, const std::string& caption) override {
    WriteToStderr("Ask", caption, text + (m_Ok ? " -> OK" : " -> Cancel"));
    return m_Ok;
  }
  void Message(const std::string& text) override { WriteToStderr("Message", "", text); }
  void ErrorBox(const std::string& text, const std::string& caption) override {
    WriteToStderr("ErrorBox", caption, text);
  }
  bool InputBox(const std::string& caption, const std::string& prompt, std::string& value) override {
    WriteToStderr("InputBox", caption, prompt + " [" + value + "]" + (m_Ok ? " -> OK" : " -> Cancel"));
    return m_Ok;
  }
  bool BrowseForFolder(const std::string& title, std::string& path) override {
    WriteToStderr("BrowseForFolder", "", title + " [" + path + "]" + (m_Ok ? " -> OK" : " -> Cancel"));
    return m_Ok;
  }

 private:
  bool m_Ok;
};

ConsoleDialogs g_console;
UnattendedDialogs g_unattendedOk(true);
UnattendedDialogs g_unattendedCancel(false);

}  // namespace

Dialogs& CurrentDialogs() {
  // Read every time, so that a test or a script may switch it while the program runs.
  const char* unattended = std::getenv("VEMO_UNATTENDED");
  if (unattended != nullptr) {
    if (std::strcmp(unattended, "ok") == 0) return g_unattendedOk;
    if (std::strcmp(unattended, "cancel") == 0) return g_unattendedCancel;
  }
  Dialogs* set = g_dialogs.load(std::memory_order_acquire);
  return set != nullptr ? *set : g_console;
}

void SetDialogs(Dialogs* dialogs) { g_dialogs.store(dialogs, std::memory_order_release); }

bool ConsoleDialogs::Ask(const std::string& text, const std::string& caption) {
  WriteToStderr("Ask", caption, text + " -> Cancel");
  return false;
}
void ConsoleDialogs::Message(const std::string& text) { WriteToStderr("Message", "", text); }
void ConsoleDialogs::ErrorBox(const std::string& text, const std::string& caption) {
  WriteToStderr("ErrorBox", caption, text);
}
bool ConsoleDialogs::InputBox(const std::string& caption, const std::string& prompt, std::string& value) {
  WriteToStderr("InputBox", caption, prompt + " -> Cancel");
  return false;
}
bool ConsoleDialogs::BrowseForFolder(const std::string& title, std::string& path) {
  WriteToStderr("BrowseForFolder", "", title + " -> Cancel");
  return false;
}

bool ScriptedDialogs::Ask(const std::string& text, const std::string& caption) {
  records.push_back({"Ask", text, caption});
  if (answers.empty()) return false;
  bool answer = answers.front();
  answers.pop_front();
  return answer;
}
void ScriptedDialogs::Message(const std::string& text) { records.push_back({"Message", text, ""}); }
void ScriptedDialogs::ErrorBox(const std::string& text, const std::string& caption) {
  records.push_back({"ErrorBox", text, caption});
}
bool ScriptedDialogs::InputBox(const std::string& caption, const std::string& prompt, std::string& value) {
  records.push_back({"InputBox", prompt, caption});
  if (values.empty()) return false;
  value = values.front();
  values.pop_front();
  return true;
}
bool ScriptedDialogs::BrowseForFolder(const std::string& title, std::string& path) {
  records.push_back({"BrowseForFolder", title, ""});
  if (values.empty()) return false;
  path = values.front();
  values.pop_front();
  return true;
}

}  // namespace platform
