// The operator dialogs of the main window, shown with Qt: the OK/Cancel question, the
// message, the topmost error box, the input box and the folder picker. Installed with
// platform::SetDialogs; callers always go through platform::CurrentDialogs(), which
// answers without showing anything when VEMO_UNATTENDED is set.
//
// Qt shows dialogs on the window thread only. A dialog asked for on another thread (a
// launch failure in the start worker) is handed to the window thread and the asking thread
// waits for the operator's answer. When the window closes, ReleaseWaitingCallers answers
// every waiting and every later dialog of another thread with Cancel (its text goes to
// standard error), so that a worker never waits for a window that will not answer while
// the window waits for the worker to stop.
#pragma once

#include <QPointer>
#include <QWidget>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "platform/dialogs.h"

namespace app {

class QtDialogs : public platform::Dialogs {
 public:
  // `owner` (may be null) parents the dialogs and names the message box caption.
  explicit QtDialogs(QWidget* owner = nullptr);
  ~QtDialogs() override;
  void SetOwner(QWidget* owner);

  bool Ask(const std::string& text, const std::string& caption) override;
  void Message(const std::string& text) override;
  void ErrorBox(const std::string& text, const std::string& caption) override;
  bool InputBox(const std::string& caption, const std::string& prompt, std::string& value) override;
  bool BrowseForFolder(const std::string& title, std::string& path) override;

  // Answers Cancel to every dialog of another thread, waiting now or asked later.
  void ReleaseWaitingCallers();
  // The dialogs of the running program (null when none was made).
  static QtDialogs* Instance();

 private:
  struct Answer {
    bool ok = false;
    std::string value;
  };
  struct Call;
  static bool OnGuiThread();
  // Runs `show` on the window thread and waits for its answer; false when the window no
  // longer answers (no owner, or released), and the console dialog is used instead.
  bool ForwardToGuiThread(const std::function<Answer()>& show, Answer* answer);

  Answer ShowAsk(const std::string& text, const std::string& caption);
  Answer ShowMessage(const std::string& text);
  Answer ShowErrorBox(const std::string& text, const std::string& caption);
  Answer ShowInputBox(const std::string& caption, const std::string& prompt, const std::string& value);
  Answer ShowBrowseForFolder(const std::string& title, const std::string& path);

  QPointer<QWidget> m_Owner;
  platform::ConsoleDialogs m_Console;
  std::mutex m_Mutex;
  bool m_Released = false;                    // guarded by m_Mutex
  std::set<std::shared_ptr<Call>> m_Waiting;  // guarded by m_Mutex
};

}  // namespace app
