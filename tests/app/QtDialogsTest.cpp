// The Qt operator dialogs: answers come from the buttons pressed, the error box stays on
// top, and a dialog asked for off the window thread never touches Qt.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <thread>

#include "OffscreenApplication.h"
#include "app/QtDialogs.h"

namespace {

class QtDialogsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    EnsureOffscreenApplication();
  }

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

TEST_F(QtDialogsTest, DialogsOffTheWindowThreadAnswerCancelWithoutQt) {
  bool asked = true, input = true;
  std::string value = "0";
  std::thread worker([&] {
    asked = m_Dialogs.Ask("Worker question?", "Ask");
    m_Dialogs.ErrorBox("worker failure", "Error report");
    input = m_Dialogs.InputBox("Input", "Query", value);
  });
  worker.join();
  EXPECT_FALSE(asked);
  EXPECT_FALSE(input);
  EXPECT_EQ(value, "0");
}

}  // namespace
