// The operator dialogs of the main window, shown with Qt: the OK/Cancel question, the
// message, the topmost error box, the input box and the folder picker. Installed with
// platform::SetDialogs; callers always go through platform::CurrentDialogs(), which
// answers without showing anything when VEMO_UNATTENDED is set. Qt shows dialogs on its
// own thread only: a dialog asked for on another thread (a worker whose component failed)
// goes to standard error and is answered Cancel, as a program without a window would.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/dialogs.h"

namespace app {

class QtDialogs : public platform::Dialogs {
 public:
  // `owner` (may be null) parents the dialogs and names the message box caption.
  explicit QtDialogs(QWidget* owner = nullptr) : m_Owner(owner) {}
  void SetOwner(QWidget* owner) { m_Owner = owner; }

  bool Ask(const std::string& text, const std::string& caption) override;
  void Message(const std::string& text) override;
  void ErrorBox(const std::string& text, const std::string& caption) override;
  bool InputBox(const std::string& caption, const std::string& prompt, std::string& value) override;
  bool BrowseForFolder(const std::string& title, std::string& path) override;

 private:
  static bool OnGuiThread();

  QPointer<QWidget> m_Owner;
  platform::ConsoleDialogs m_Console;
};

}  // namespace app
