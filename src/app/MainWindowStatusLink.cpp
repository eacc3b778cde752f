// The main window's side of the status server link: its two buttons, the status bar texts,
// the timer that runs the status script step. The link's logic is StatusLinkControl
// (src/statuslink), which the manager holds.
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <functional>
#include <utility>

#include "app/MainWindowLayout.h"
#include "app/MapServerManager.h"
#include "app/TVemoMapServerManagerMain.h"
#include "statuslink/IStatusLinkView.h"
#include "statuslink/StatusLinkControl.h"

namespace {

// The link's three controls: the status bar, the pair of link buttons and the timer of the
// status script step. A retry of the automatic connect runs later on the window thread, as a
// single-shot timer owned by the status bar, so no dialog or wait ever holds it up.
class StatusLinkView : public IStatusLinkView {
 public:
  StatusLinkView(QStatusBar* status, QPushButton* start, QPushButton* stop, QTimer* scriptStep,
                 std::function<void()> retryAutoConnect)
      : m_Status(status),
        m_Start(start),
        m_Stop(stop),
        m_ScriptStep(scriptStep),
        m_RetryAutoConnect(std::move(retryAutoConnect)) {}

  void SetStatusText(const std::string& text) override { m_Status->showMessage(QString::fromStdString(text)); }
  void ShowLinkButtons(bool linked) override {
    m_Start->setVisible(!linked);
    m_Stop->setVisible(linked);
  }
  void SetScriptStepActive(bool active) override {
    if (active)
      m_ScriptStep->start();
    else
      m_ScriptStep->stop();
  }
  void ScheduleRetry(int delayMs) override { QTimer::singleShot(delayMs, m_Status, m_RetryAutoConnect); }

 private:
  QStatusBar* m_Status;
  QPushButton* m_Start;
  QPushButton* m_Stop;
  QTimer* m_ScriptStep;
  std::function<void()> m_RetryAutoConnect;
};

}  // namespace

void TVemoMapServerManagerMain::ConnectStatusLinkControls() {
  connect(m_Ui->tmStatusScript, &QTimer::timeout, this, [this] { m_Manager->StatusLink().RunScriptStep(); });
  connect(m_Ui->btnStartStatusServer, &QPushButton::clicked, this,
          &TVemoMapServerManagerMain::btnStartStatusServerClick);
  connect(m_Ui->btnStopStatusServer, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btnStopStatusServerClick);
}

std::unique_ptr<IStatusLinkView> TVemoMapServerManagerMain::NewStatusLinkView() {
  return std::make_unique<StatusLinkView>(m_Ui->sbStatus, m_Ui->btnStartStatusServer, m_Ui->btnStopStatusServer,
                                          m_Ui->tmStatusScript, [this] { m_Manager->StatusLink().RetryAutoConnect(); });
}

void TVemoMapServerManagerMain::btnStartStatusServerClick() { m_Manager->StatusLink().StartStatusServer(); }

void TVemoMapServerManagerMain::btnStopStatusServerClick() { m_Manager->StatusLink().StopStatusServer(); }
