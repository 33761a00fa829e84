#pragma once
// What the main window needs of the rest of the program besides the relay (RelayControl): the
// traffic monitor's start-up reset, active slot, timer tick and title, and the settings file.
// Small interfaces, so that the window is built and tested apart from their implementations.

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "proxy/relay_host.h"
#include "settings/preferences.h"
#include "settings/prefs_store.h"

namespace quorvel {

class MonitorPort {
 public:
  virtual ~MonitorPort() = default;
  // Clears both rewritten flags and the captured profile; the screen name becomes
  // "[ Not Logged On ]".
  virtual void ResetForStartUp() = 0;
  // The slot of the latest set-user-information frame (0 before any).
  virtual SlotIndex ActiveSlot() const = 0;
  // One tick of the update timer.
  virtual void RunTimedUpdates() = 0;
  // `listener` receives the new window title whenever the screen name is learnt.
  virtual void SetTitleListener(std::function<void(const std::string&)> listener) = 0;
  // The user's screen name as the server gave it; "[ Not Logged On ]" before that.
  virtual std::string ScreenName() const = 0;
};

// Adapts any monitor with these five public members (TrafficMonitor has them) to MonitorPort.
template <class Monitor>
class MonitorPortFor : public MonitorPort {
 public:
  explicit MonitorPortFor(Monitor& monitor) : monitor_(monitor) {}
  void ResetForStartUp() override { monitor_.ResetForStartUp(); }
  SlotIndex ActiveSlot() const override { return monitor_.ActiveSlot(); }
  void RunTimedUpdates() override { monitor_.RunTimedUpdates(); }
  void SetTitleListener(std::function<void(const std::string&)> listener) override {
    monitor_.SetTitleListener(std::move(listener));
  }
  std::string ScreenName() const override { return monitor_.ScreenName(); }

 private:
  Monitor& monitor_;
};

// The settings file, read once while the window loads and written once while it closes.
class SettingsFile {
 public:
  virtual ~SettingsFile() = default;
  // Every setting, or nothing when there is no file (the controls then keep their defaults).
  virtual std::optional<Preferences> Load() = 0;
  // Writes every setting; false when they could not be saved.
  virtual bool Save(const Preferences& prefs) = 0;
  // Where the settings are kept, for the user.
  virtual QString Location() const = 0;
};

// prefs.ini on disk.
class PrefsStoreFile : public SettingsFile {
 public:
  explicit PrefsStoreFile(PrefsStore& store) : store_(store) {}
  std::optional<Preferences> Load() override {
    Preferences prefs = store_.Load();
    if (!store_.FileFound()) return std::nullopt;
    return prefs;
  }
  bool Save(const Preferences& prefs) override { return store_.Save(prefs); }
  QString Location() const override { return store_.Path(); }

 private:
  PrefsStore& store_;
};

}  // namespace quorvel
