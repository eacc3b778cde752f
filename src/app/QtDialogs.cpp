#include "app/QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QThread>

namespace app {
namespace {

QString Text(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

bool QtDialogs::OnGuiThread() {
  const QCoreApplication* application = QCoreApplication::instance();
  return application != nullptr && QThread::currentThread() == application->thread();
}

bool QtDialogs::Ask(const std::string& text, const std::string& caption) {
  if (!OnGuiThread()) return m_Console.Ask(text, caption);
  QMessageBox box(QMessageBox::Question, Text(caption), Text(text),
                  QMessageBox::Ok | QMessageBox::Cancel, m_Owner);
  box.setDefaultButton(QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok;
}

void QtDialogs::Message(const std::string& text) {
  if (!OnGuiThread()) return m_Console.Message(text);
  // A plain message carries the application's title as its caption.
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), Text(text),
                  QMessageBox::Ok, m_Owner);
  box.exec();
}

void QtDialogs::ErrorBox(const std::string& text, const std::string& caption) {
  if (!OnGuiThread()) return m_Console.ErrorBox(text, caption);
  QMessageBox box(QMessageBox::Critical, Text(caption), Text(text), QMessageBox::Ok, m_Owner);
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  box.exec();
}

bool QtDialogs::InputBox(const std::string& caption, const std::string& prompt,
                         std::string& value) {
  if (!OnGuiThread()) return m_Console.InputBox(caption, prompt, value);
  bool ok = false;
  const QString answer = QInputDialog::getText(m_Owner, Text(caption), Text(prompt),
                                               QLineEdit::Normal, Text(value), &ok);
  if (ok) value = answer.toStdString();
  return ok;
}

bool QtDialogs::BrowseForFolder(const std::string& title, std::string& path) {
  if (!OnGuiThread()) return m_Console.BrowseForFolder(title, path);
  const QString chosen = QFileDialog::getExistingDirectory(m_Owner, Text(title), Text(path));
  if (chosen.isEmpty()) return false;
  path = chosen.toStdString();
  return true;
}

}  // namespace app
