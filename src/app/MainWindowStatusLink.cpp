// The main window's side of the status server link: its two buttons, the status bar texts,
// the timer that runs the status script step, and the stop when the window closes. The
// link's logic is StatusLinkControl (src/statuslink).
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "app/TVemoMapServerManagerMain.h"
#include "statuslink/IStatusLinkView.h"
#include "statuslink/StatusLinkControl.h"

namespace {

// The script step runs on the window thread, where every other use of the script host
// runs too, so the two never overlap.
constexpr int kStatusScriptIntervalMs = 50;

class StatusLinkView : public IStatusLinkView {
 public:
  explicit StatusLinkView(TVemoMapServerManagerMain* window) : m_Window(window) {}

  void SetStatusText(const std::string& text) override {
    m_Window->sbStatus->showMessage(QString::fromStdString(text));
  }
  void ShowLinkButtons(bool linked) override {
    m_Window->btnStartStatusServer->setVisible(!linked);
    m_Window->btnStopStatusServer->setVisible(linked);
  }
  void SetScriptStepActive(bool active) override {
    if (active)
      m_Window->tmStatusScript->start();
    else
      m_Window->tmStatusScript->stop();
  }
  void ScheduleRetry(int delayMs) override {
    TVemoMapServerManagerMain* window = m_Window;
    QTimer::singleShot(delayMs, window, [window] { window->StatusLink().RetryAutoConnect(); });
  }

 private:
  TVemoMapServerManagerMain* m_Window;
};

}  // namespace

void TVemoMapServerManagerMain::ConnectStatusLinkControls() {
  tmStatusScript = new QTimer(this);
  tmStatusScript->setObjectName("tmStatusScript");
  tmStatusScript->setInterval(kStatusScriptIntervalMs);
  connect(tmStatusScript, &QTimer::timeout, this, [this] { StatusLink().RunScriptStep(); });
  connect(btnStartStatusServer, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btnStartStatusServerClick);
  connect(btnStopStatusServer, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btnStopStatusServerClick);
}

StatusLinkControl& TVemoMapServerManagerMain::StatusLink() {
  if (!m_StatusLink) {
    m_StatusLinkView = std::make_unique<StatusLinkView>(this);
    StatusLinkControl::Settings settings;
    settings.Config = m_Config;
    settings.View = m_StatusLinkView.get();
    m_StatusLink = std::make_unique<StatusLinkControl>(settings);
  }
  return *m_StatusLink;
}

void TVemoMapServerManagerMain::btnStartStatusServerClick() { StatusLink().StartStatusServer(); }

void TVemoMapServerManagerMain::btnStopStatusServerClick() { StatusLink().StopStatusServer(); }

void TVemoMapServerManagerMain::StopStatusLinkOnClose() { StatusLink().StopStatusServer(); }

void TVemoMapServerManagerMain::ReleaseStatusLink() {
  if (m_StatusLink) m_StatusLink->Shutdown();
}
