// Runs the window tests inside one QApplication, on the offscreen platform unless another is set.

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char* argv[]) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The offscreen platform has no notification area; Qt's tray icon says so on every use.
  qputenv("QT_LOGGING_RULES", "qt.core.qobject.connect=false");
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
