#include "app/window_main.h"

#include <QApplication>
#include <QSessionManager>
#include <cstring>

#include "app/form1.h"
#include "app/termination_signals.h"

namespace quorvel {

bool DisplayAvailable() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  return !qEnvironmentVariableIsEmpty("DISPLAY") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
         !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#else
  return true;
#endif
}

bool WindowRequested(int argc, const char* const argv[]) {
  for (int i = 1; i < argc; ++i) {
    for (const char* option : {"--headless", "--now-playing", "--help", "-h", "--version", "-v"}) {
      const std::size_t length = std::strlen(option);
      if (std::strncmp(argv[i], option, length) == 0 &&
          (argv[i][length] == '\0' || argv[i][length] == '=')) {
        return false;
      }
    }
  }
  return true;
}

std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char* argv[]) {
  if (WindowRequested(argc, argv) && DisplayAvailable()) {
    return std::make_unique<QApplication>(argc, argv);
  }
  return std::make_unique<QCoreApplication>(argc, argv);
}

void ConnectLifecycle(Form1& form, TerminationSignals& terminations) {
  QObject::connect(&form, &Form1::unloaded, QCoreApplication::instance(), &QCoreApplication::quit);
  QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &form,
                   &Form1::FormUnload);
#ifndef QT_NO_SESSIONMANAGER
  if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    QObject::connect(
        gui, &QGuiApplication::commitDataRequest, &form,
        [&form](QSessionManager&) { form.FormUnload(); }, Qt::DirectConnection);
  }
#endif
  QObject::connect(&terminations, &TerminationSignals::received, &form, &Form1::FormUnload);
}

}  // namespace quorvel
