#pragma once
// A bounded wait that keeps the Qt event loop running.

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace quorvel::testing {

// Runs the event loop until `done` holds or `ms` milliseconds have passed; whether it holds.
inline bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
  const QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QEventLoop loop;
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

}  // namespace quorvel::testing
