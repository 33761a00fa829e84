#include "session/monitor_session.h"

#include <QCoreApplication>
#include <utility>

namespace quorvel {

MonitorSession::MonitorSession(RelayControl& proxy, MediaPlayer& player, const Preferences& prefs,
                               std::function<void(const std::string&)> print)
    : settings_(prefs),
      composer_(player, settings_),
      monitor_(proxy, composer_, settings_, log_),
      print_(std::move(print)),
      playerChanges_(player, [this] {
        if (timer_.isActive()) monitor_.RunTimedUpdates();
      }) {
  log_.SetObserver(this);
  monitor_.SetTitleListener([this](const std::string& title) {
    if (print_) print_(title);
  });
  QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { monitor_.RunTimedUpdates(); });
  if (const QCoreApplication* app = QCoreApplication::instance()) {
    QObject::connect(app, &QCoreApplication::aboutToQuit, &timer_, [this] { SetInterval(0); });
  }
  SetInterval(prefs.IntervalMs());
}

MonitorSession::~MonitorSession() {
  log_.SetObserver(nullptr);
}

void MonitorSession::SetInterval(int ms) {
  if (ms <= 0) {
    timer_.stop();
    return;
  }
  timer_.start(ms);
}

void MonitorSession::LineAdded(int, const std::string& line) {
  if (print_) print_(line);
}

void MonitorSession::LineChanged(int, const std::string& line) {
  if (print_) print_(line);
}

}  // namespace quorvel
