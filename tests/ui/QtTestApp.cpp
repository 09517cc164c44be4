#include "QtTestApp.h"

#include <cstdlib>

namespace halvik {

QApplication& TestApplication() {
  if (QApplication* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
    return *existing;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "halvik_ui_tests";
  static char* argv[] = {name, nullptr};
  // Never destroyed: at exit Qt's own globals may already be gone when a static application's
  // destructor would run.
  static QApplication* application = new QApplication(argc, argv);
  return *application;
}

}  // namespace halvik
