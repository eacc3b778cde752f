// The one QApplication of an app test program, on Qt's offscreen platform.
#pragma once

#include <QApplication>
#include <cstdlib>

inline void EnsureOffscreenApplication() {
  if (QApplication::instance() != nullptr) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char arg0[] = "app_tests";
  static char* argv[] = {arg0, nullptr};
  new QApplication(argc, argv);
}
