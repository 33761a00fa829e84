#pragma once
// The traffic monitor as the headless front end runs it: the monitor with its event log, composing
// with the settings of a Preferences value, and the update timer, which stops when the event loop
// ends so that no update goes out while the connections close. While the timer runs, a change
// the player tells of runs the updates at once.

#include <QTimer>
#include <functional>
#include <string>

#include "media/composer.h"
#include "media/media_player.h"
#include "monitor/event_log.h"
#include "monitor/traffic_monitor.h"
#include "session/player_change_updates.h"
#include "settings/preferences.h"
#include "settings/preferences_settings.h"

namespace quorvel {

class MonitorSession : private EventLogObserver {
 public:
  // `print` receives each event-log line as it is added or changed ("count x text") and each new
  // window title. `prefs` and `player` must outlive the session.
  MonitorSession(RelayControl& proxy, MediaPlayer& player, const Preferences& prefs,
                 std::function<void(const std::string&)> print);
  ~MonitorSession() override;
  MonitorSession(const MonitorSession&) = delete;
  MonitorSession& operator=(const MonitorSession&) = delete;

  // The host of the relay's events.
  RelayHost& Host() { return monitor_; }
  // The event log, whose changes are printed.
  EventLog& Log() { return log_; }

  // Ticks every `ms` milliseconds; 0 (or less) stops the ticks.
  void SetInterval(int ms);
  bool TimerActive() const { return timer_.isActive(); }

 private:
  void LineAdded(int row, const std::string& line) override;
  void LineChanged(int row, const std::string& line) override;
  void Cleared() override {}

  PreferencesSettings settings_;
  Composer composer_;
  EventLog log_;
  TrafficMonitor monitor_;
  QTimer timer_;
  std::function<void(const std::string&)> print_;
  PlayerChangeUpdates playerChanges_;
};

}  // namespace quorvel
