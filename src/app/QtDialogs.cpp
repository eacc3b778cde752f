#include "app/QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <atomic>

namespace app {
namespace {

QString Text(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

std::atomic<QtDialogs*> g_instance{nullptr};

}  // namespace

// One dialog handed from another thread to the window thread. The answer lives here, not
// on the asking thread's stack, so a caller released early leaves nothing dangling.
struct QtDialogs::Call {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;   // the window thread answered
  bool cancelled = false;  // released before it was shown
  Answer answer;
};

QtDialogs::QtDialogs(QWidget* owner) : m_Owner(owner) { g_instance.store(this); }

QtDialogs::~QtDialogs() {
  ReleaseWaitingCallers();
  QtDialogs* self = this;
  g_instance.compare_exchange_strong(self, nullptr);
}

QtDialogs* QtDialogs::Instance() { return g_instance.load(); }

void QtDialogs::SetOwner(QWidget* owner) {
  m_Owner = owner;
  if (owner == nullptr) ReleaseWaitingCallers();
}

bool QtDialogs::OnGuiThread() {
  const QCoreApplication* application = QCoreApplication::instance();
  return application != nullptr && QThread::currentThread() == application->thread();
}

void QtDialogs::ReleaseWaitingCallers() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_Released = true;
  for (const auto& call : m_Waiting) {
    std::lock_guard<std::mutex> callLock(call->mutex);
    call->cancelled = true;
    call->done.notify_all();
  }
}

bool QtDialogs::ForwardToGuiThread(const std::function<Answer()>& show, Answer* answer) {
  QCoreApplication* application = QCoreApplication::instance();
  auto call = std::make_shared<Call>();
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Released || application == nullptr || m_Owner.isNull()) return false;
    m_Waiting.insert(call);
  }
  QMetaObject::invokeMethod(
      application,
      [call, show] {
        {
          std::lock_guard<std::mutex> lock(call->mutex);
          if (call->cancelled) return;
        }
        Answer shown = show();
        std::lock_guard<std::mutex> lock(call->mutex);
        call->answer = std::move(shown);
        call->finished = true;
        call->done.notify_all();
      },
      Qt::QueuedConnection);
  bool finished = false;
  {
    std::unique_lock<std::mutex> lock(call->mutex);
    call->done.wait(lock, [&] { return call->finished || call->cancelled; });
    finished = call->finished;
    if (finished) *answer = call->answer;
  }
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_Waiting.erase(call);
  return finished;
}

QtDialogs::Answer QtDialogs::ShowAsk(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Question, Text(caption), Text(text), QMessageBox::Ok | QMessageBox::Cancel, m_Owner);
  box.setDefaultButton(QMessageBox::Ok);
  return {box.exec() == QMessageBox::Ok, {}};
}

QtDialogs::Answer QtDialogs::ShowMessage(const std::string& text) {
  // A plain message carries the application's title as its caption.
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), Text(text), QMessageBox::Ok, m_Owner);
  box.exec();
  return {true, {}};
}

QtDialogs::Answer QtDialogs::ShowErrorBox(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Critical, Text(caption), Text(text), QMessageBox::Ok, m_Owner);
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  box.exec();
  return {true, {}};
}

QtDialogs::Answer QtDialogs::ShowInputBox(const std::string& caption, const std::string& prompt,
                                          const std::string& value) {
  bool ok = false;
  const QString answer =
      QInputDialog::getText(m_Owner, Text(caption), Text(prompt), QLineEdit::Normal, Text(value), &ok);
  return {ok, ok ? answer.toStdString() : value};
}

QtDialogs::Answer QtDialogs::ShowBrowseForFolder(const std::string& title, const std::string& path) {
  const QString chosen = QFileDialog::getExistingDirectory(m_Owner, Text(title), Text(path));
  return {!chosen.isEmpty(), chosen.toStdString()};
}

bool QtDialogs::Ask(const std::string& text, const std::string& caption) {
  if (OnGuiThread()) return ShowAsk(text, caption).ok;
  Answer answer;
  if (!ForwardToGuiThread([=, this] { return ShowAsk(text, caption); }, &answer)) return m_Console.Ask(text, caption);
  return answer.ok;
}

void QtDialogs::Message(const std::string& text) {
  if (OnGuiThread()) {
    ShowMessage(text);
    return;
  }
  Answer answer;
  if (!ForwardToGuiThread([=, this] { return ShowMessage(text); }, &answer)) m_Console.Message(text);
}

void QtDialogs::ErrorBox(const std::string& text, const std::string& caption) {
  if (OnGuiThread()) {
    ShowErrorBox(text, caption);
    return;
  }
  Answer answer;
  if (!ForwardToGuiThread([=, this] { return ShowErrorBox(text, caption); }, &answer))
    m_Console.ErrorBox(text, caption);
}

bool QtDialogs::InputBox(const std::string& caption, const std::string& prompt, std::string& value) {
  Answer answer;
  if (OnGuiThread()) {
    answer = ShowInputBox(caption, prompt, value);
  } else if (!ForwardToGuiThread([=, this] { return ShowInputBox(caption, prompt, value); }, &answer)) {
    return m_Console.InputBox(caption, prompt, value);
  }
  if (answer.ok) value = answer.value;
  return answer.ok;
}

bool QtDialogs::BrowseForFolder(const std::string& title, std::string& path) {
  Answer answer;
  if (OnGuiThread()) {
    answer = ShowBrowseForFolder(title, path);
  } else if (!ForwardToGuiThread([=, this] { return ShowBrowseForFolder(title, path); }, &answer)) {
    return m_Console.BrowseForFolder(title, path);
  }
  if (answer.ok) path = answer.value;
  return answer.ok;
}

}  // namespace app
