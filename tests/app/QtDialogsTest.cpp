// The Qt operator dialogs: answers come from the buttons pressed, the error box stays on
// top, and a dialog asked for off the window thread is shown on it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "app/QtDialogs.h"
#include "support/OffscreenApplication.h"

namespace {

class QtDialogsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureOffscreenApplication(); }

  // Acts on the dialog once it is shown (checked every 10 ms).
  static void WhenShown(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
      if (QWidget* dialog = QApplication::activeModalWidget()) {
        timer->stop();
        timer->deleteLater();
        act(dialog);
      }
    });
    timer->start();
  }

  static void Press(QWidget* dialog, QMessageBox::StandardButton which) {
    auto* box = qobject_cast<QMessageBox*>(dialog);
    ASSERT_NE(box, nullptr);
    box->button(which)->click();
  }

  app::QtDialogs m_Dialogs;
};

TEST_F(QtDialogsTest, AskAnswersWithTheButtonPressedAndShowsTextAndCaption) {
  QString text, caption;
  WhenShown([&](QWidget* dialog) {
    text = static_cast<QMessageBox*>(dialog)->text();
    caption = dialog->windowTitle();
    Press(dialog, QMessageBox::Ok);
  });
  EXPECT_TRUE(m_Dialogs.Ask("CloseProc?", "CloseAsk"));
  EXPECT_EQ(text, "CloseProc?");
  EXPECT_EQ(caption, "CloseAsk");

  WhenShown([&](QWidget* dialog) { Press(dialog, QMessageBox::Cancel); });
  EXPECT_FALSE(m_Dialogs.Ask("KillAll?", "KillAsk"));
}

TEST_F(QtDialogsTest, ErrorBoxStaysOnTop) {
  bool onTop = false;
  QString caption;
  WhenShown([&](QWidget* dialog) {
    onTop = dialog->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    caption = dialog->windowTitle();
    Press(dialog, QMessageBox::Ok);
  });
  m_Dialogs.ErrorBox("Can't find Brenox.dll!!!Fail to start server!!!", "Error report");
  EXPECT_TRUE(onTop);
  EXPECT_EQ(caption, "Error report");
}

TEST_F(QtDialogsTest, InputBoxReturnsTheTextOnOkAndKeepsTheValueOnCancel) {
  WhenShown([](QWidget* dialog) {
    auto* input = qobject_cast<QInputDialog*>(dialog);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->textValue(), "0");
    input->setTextValue(QString::fromUtf8("12 地图"));
    input->accept();
  });
  std::string value = "0";
  EXPECT_TRUE(m_Dialogs.InputBox("Input MapID", "Query", value));
  EXPECT_EQ(value, "12 地图");

  WhenShown([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
  value = "0";
  EXPECT_FALSE(m_Dialogs.InputBox("Input MapID", "Query", value));
  EXPECT_EQ(value, "0");
}

TEST_F(QtDialogsTest, ADialogOfAnotherThreadIsShownOnTheWindowThreadUntilTheWindowCloses) {
  QWidget window;
  m_Dialogs.SetOwner(&window);
  QString shownText;
  WhenShown([&](QWidget* dialog) {
    shownText = static_cast<QMessageBox*>(dialog)->text();
    Press(dialog, QMessageBox::Ok);
  });
  std::atomic<int> answer{-1};
  std::thread worker([&] { answer = m_Dialogs.Ask("Worker question?", "Start Ask") ? 1 : 0; });
  while (answer.load() < 0) QApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  EXPECT_EQ(answer.load(), 1);
  EXPECT_EQ(shownText, "Worker question?");

  // A worker still waiting when the window closes gets Cancel, and so does any later one:
  // nobody waits for a window that no longer answers.
  std::atomic<bool> waiting{false}, done{false};
  bool asked = true;
  std::thread late([&] {
    waiting = true;
    asked = m_Dialogs.Ask("Nobody answers?", "Start Ask");
    done = true;
  });
  while (!waiting.load()) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  m_Dialogs.ReleaseWaitingCallers();
  late.join();
  EXPECT_TRUE(done.load());
  EXPECT_FALSE(asked);
  std::string value = "0";
  std::thread after([&] { asked = m_Dialogs.InputBox("Input", "Query", value); });
  after.join();
  EXPECT_FALSE(asked);
  EXPECT_EQ(value, "0");
  QApplication::processEvents();  // the queued dialog of the released worker is never shown
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
