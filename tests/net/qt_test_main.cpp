// The loopback tests run on one Qt event loop, which the waits drive.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <csignal>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTimer wake;  // wakes the event loop regularly, so that waits check their conditions
  wake.start(10);
  std::signal(SIGPIPE, SIG_IGN);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
