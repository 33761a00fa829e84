#pragma once
// The main window: the page list, the five pages (Events, Preferences, Replace, Replace
// Continued, About), every preference control and its reaction, the update timer, the tray icon,
// loading and closing. The settings live in the controls; composition reads them through
// FormatSettings and UpdateSettings, so an edit takes effect at the next composition.
//
// Setting a control from code runs its reaction before the setting returns (the reactions are
// connected to Qt's synchronous change signals), as a user's edit does.

#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <string>

#include "settings/preferences.h"
#include "settings/settings_table.h"
#include "gui/window_services.h"
#include "media/format_settings.h"
#include "monitor/event_log.h"
#include "proxy/proxy_host.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;

namespace quorvel {

class SysTray;

inline constexpr int kPageCount = 5;
inline constexpr const char* kStartCaption = " [ Not Signed On ] - Quorvel";

class Form1 : public QWidget,
              public FormatSettings,
              public UpdateSettings,
              private EventLogObserver {
  Q_OBJECT

 public:
  // Builds the window and its controls with their defaults. `log` is shown live in mesList.
  explicit Form1(EventLog& log, QWidget* parent = nullptr);
  ~Form1() override;

  // The relay, the monitor and the settings file. Called once, before FormLoad.
  void Bind(ProxyControl& proxy, MonitorPort& monitor, SettingsFile& settings);

  // Start-up: resets the capture state, loads the settings into the controls (their reactions
  // run), shows the tray icon when asked, shows the Events page, listens on the port in the port
  // box and launches the client when asked.
  void FormLoad();

  // Closing: saves the settings, removes the tray icon, stops listening, stops the timer and emits
  // unloaded(). Runs once; later calls do nothing.
  void FormUnload();
  bool IsUnloaded() const { return unloaded_; }

  // What the controls hold, as the settings file stores it. Values that have no control (the
  // bind address) are those loaded.
  Preferences ControlValues() const;

  // Whether the desktop offers a notification area; tests replace the probe.
  void SetTrayAvailability(std::function<bool()> probe);

  // FormatSettings
  FieldFormat Field(MediaField field) const override;
  bool LimitOnly() const override;
  bool BufferOn() const override;
  Bytes BufferText() const override;
  Bytes BlockToken() const override;
  Bytes Block() const override;

  // UpdateSettings
  bool Enabled() const override;
  bool ProfileUpdates() const override;
  bool AwayUpdates() const override;
  bool AwayUsesBlock() const override;

 signals:
  // The closing sequence has run: the program is to end now.
  void unloaded();

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // EventLogObserver
  void LineAdded(int row, const std::string& line) override;
  void LineChanged(int row, const std::string& line) override;
  void Cleared() override;

  void BuildEventsPage();
  void BuildPreferencesPage();
  void BuildReplacePage();
  void BuildReplaceContinuedPage();
  void BuildAboutPage();
  void ConnectReactions();

  // Reactions.
  void master_list_Click();
  void prefsChk_Click(int index);
  void prefsText_Change(int index);
  void PortChange();
  void IntervalChange();
  void prefsScroll_Change();
  void prefsButton_Click();
  bool repText_KeyPress(int index, const QKeyEvent& key) const;  // true: the key passes
  void RestoreFromTray();

  void ApplyKey(PrefKey key, const Preferences& prefs);
  void SetCheckTimerInterval(int milliseconds);
  bool TrayAvailable() const;

  EventLog& log_;
  ProxyControl* proxy_ = nullptr;
  MonitorPort* monitor_ = nullptr;
  SettingsFile* settings_ = nullptr;
  Preferences loaded_;  // what was read; carries the values that have no control
  bool unloaded_ = false;
  QString lastPortText_ = QStringLiteral("3131");  // the last text accepted as a port
  QString fileBrowseName_;  // the last file chosen in the open-file dialog during this run
  std::function<bool()> trayAvailable_;

  QListWidget* master_list_ = nullptr;
  std::array<QFrame*, kPageCount> Frames_{};
  // Events page.
  QListWidget* mesList_ = nullptr;
  QLabel* mesLabel_ = nullptr;
  QPushButton* mesButton_ = nullptr;
  // Preferences page.
  std::array<QCheckBox*, 5> prefsChk_{};
  std::array<QRadioButton*, 2> prefsRad_{};
  std::array<QLabel*, 5> prefsLabel_{};
  std::array<QLineEdit*, 3> prefsText_{};
  QScrollBar* prefsScroll_ = nullptr;
  QPushButton* prefsButton_ = nullptr;
  // Replace page.
  std::array<QLabel*, 10> repLabel_{};
  std::array<QLineEdit*, 16> repText_{};
  std::array<QComboBox*, 10> repFormat_{};
  QCheckBox* repCheck_ = nullptr;
  QCheckBox* repCheck2_ = nullptr;
  // Replace Continued page.
  std::array<QLabel*, 3> repIILabel_{};
  QLineEdit* repIIToken_ = nullptr;       // repIIText(0)
  QPlainTextEdit* repIIBlock_ = nullptr;  // repIIText(1)
  // About page.
  QLabel* Label1_ = nullptr;

  QTimer checkTimer_;
  SysTray* tray_ = nullptr;
};

}  // namespace quorvel
