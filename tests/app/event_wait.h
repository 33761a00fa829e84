#pragma once
// Bounded waits that keep the Qt event loop running.

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace quorvel::testing {

// Runs the event loop for `ms` milliseconds.
inline void RunEvents(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Runs the event loop until `done` holds or `ms` milliseconds have passed; whether it holds.
inline bool WaitFor(const std::function<bool()>& done, int ms) {
  const QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    RunEvents(10);
  }
  return true;
}

}  // namespace quorvel::testing
