// The one QApplication of a test program, on Qt's offscreen platform, and waiting while
// its event loop runs.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <cstdlib>
#include <functional>

inline void EnsureOffscreenApplication() {
  if (QApplication::instance() != nullptr) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char arg0[] = "vemo_tests";
  static char* argv[] = {arg0, nullptr};
  new QApplication(argc, argv);
}

// Runs the event loop until `done` holds; false when `timeoutMs` passed first.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}
