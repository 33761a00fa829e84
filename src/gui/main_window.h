#pragma once
// The main window: the page list, the five pages (Events, Preferences, Replace, Replace
// Continued, About), the status lines below them, every preference control and its reaction, the
// update timer, the tray icon with its menu, starting and shutting down; the media players
// present, to choose among.
//
// The window keeps the settings as one Preferences value that its controls update as they
// change; composition reads that value (through PreferencesSettings), so an edit takes effect at
// the next composition. Setting a control from code runs its reaction before the setting returns
// (the reactions are connected to Qt's synchronous change signals), as a user's edit does.

#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gui/setting_controls.h"
#include "gui/window_services.h"
#include "gui/window_status.h"
#include "media/media_player.h"
#include "monitor/event_log.h"
#include "proxy/relay_host.h"
#include "settings/preferences.h"

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

class ElidedLabel;
class MediaPlayer;
class TrayIcon;

inline constexpr const char* kStartCaption = " [ Not Signed On ] - Quorvel";
// The player box's item that leaves the choice of the player to the program.
inline constexpr const char* kAutomaticPlayer = "Automatic";

class MainWindow : public QWidget, private EventLogObserver {
  Q_OBJECT

 public:
  // Builds the window and its controls with the default settings. `log` is shown live on the
  // Events page.
  explicit MainWindow(EventLog& log, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The relay, the monitor and the settings file. Called once, before Start.
  void Attach(RelayControl& proxy, MonitorPort& monitor, SettingsFile& settingsFile);
  // The media player that composition reads and the status shows: the window lists the players
  // present in the player box and sets the choice of its controls on it. Called once, before
  // Start; `player` must outlive the window. Without one, nothing is shown playing.
  void AttachPlayer(MediaPlayer& player);
  // Listens on `port` for this run instead of the stored port, which the port box keeps and
  // which is saved. Called before Start.
  void ListenForThisRunOn(std::uint16_t port);

  // Start-up: resets the capture state, sets the stored settings into the controls (their
  // reactions run), shows the tray icon when asked, shows the Events page, listens on the port in
  // the port box (or the one for this run) and launches the client when asked.
  void Start();

  // Closing: saves the settings, removes the tray icon, stops listening, stops the timer and emits
  // shutDown(). Runs once; later calls do nothing.
  void Shutdown();
  // False when the closing sequence could not save the settings.
  bool SettingsSaved() const { return settingsSaved_; }

  // Every status text the relay raised, after its host: the status follows the listener and the
  // connections.
  void RelayEventSeen(SlotIndex slot, const std::string& text);
  // The media player changed what it plays, or players came or went.
  void PlayerChanged();
  // Shows the window in front, from the tray or from under other windows.
  void BringForward();

  // Runs the profile and away updates now, as a tick of the update timer does, while that timer
  // runs (an interval of 0 stops both).
  void RunUpdatesNow();
  // Lists the players present in the player box again, keeping the choice shown.
  void ListPlayersPresent();

  // The settings as the controls hold them. Values that have no control (the bind address) are
  // those loaded.
  const Preferences& Settings() const { return settings_; }

  // Whether the desktop offers a notification area; tests replace the probe.
  void SetTrayAvailability(std::function<bool()> probe);

 signals:
  // The closing sequence has run: the program is to end now.
  void shutDown();

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // One media field's row on the Replace page.
  struct FieldRow {
    QLineEdit* tokenEdit = nullptr;
    QComboBox* caseCombo = nullptr;
    QLineEdit* lengthEdit = nullptr;
    QLineEdit* padEdit = nullptr;
    QComboBox* justifyCombo = nullptr;
  };

  // EventLogObserver
  void LineAdded(int row, const std::string& line) override;
  void LineChanged(int row, const std::string& line) override;
  void Cleared() override;

  void BuildPageList();
  // Adds a page and its entry in the page list.
  QFrame* AddPage(const char* title, int widthTwips);
  void BuildEventsPage(QFrame* page);
  void BuildPreferencesPage(QFrame* page);
  void BuildReplacePage(QFrame* page);
  void BuildReplaceContinuedPage(QFrame* page);
  void BuildAboutPage(QFrame* page);
  void BuildStatusLines();
  // The grid that lets the window grow: the page list and the Events page take the room, the
  // other pages keep their place and size.
  void ArrangeWindow();
  void BindSettingControls();
  void ConnectReactions();

  // Reactions.
  void ShowSelectedPage();
  void EnableDependentControls();
  void EnableAwayOptions();
  void ShowOrHideTrayIcon();
  void KeepPortText();
  void ApplyPort();
  void ApplyIntervalText();
  void ApplyIntervalSpin();
  void BrowseForLaunchFile();
  void ApplyPlayerChoice();
  void ApplyAutostart(bool enabled);

  void Listen(std::uint16_t port);
  void RefreshPlayer();
  void RefreshStatus();

  // Sets the stored values of one section into their controls, in load order.
  void ShowStoredSection(std::string_view section, const Preferences& stored);
  void SetUpdateInterval(int milliseconds);
  bool TrayAvailable() const;
  bool IsLengthEdit(const QObject* object) const;

  EventLog& log_;
  RelayControl* proxy_ = nullptr;
  MonitorPort* monitor_ = nullptr;
  SettingsFile* settingsFile_ = nullptr;
  MediaPlayer* player_ = nullptr;
  Preferences settings_;
  SettingControls settingControls_{settings_};
  bool shutDown_ = false;
  bool settingsSaved_ = true;
  bool revertingPort_ = false;            // the port box is being set back: no restart
  QString lastPortText_;                  // the last port text the box held
  std::optional<std::uint16_t> runPort_;  // --port
  std::uint16_t listenPort_ = 0;          // the port the listener was last told to use
  std::string listenFailure_;             // why that failed; empty when it did not
  bool signedOn_ = false;                 // a login reply gave the screen name
  PlayerFacts playerFacts_;
  int statusTicks_ = 0;
  QString launchFileChoice_;  // the last file chosen in the open-file dialog during this run
  std::function<bool()> trayAvailable_;

  QListWidget* pageList_ = nullptr;
  QWidget* pageArea_ = nullptr;  // holds the pages, one shown at a time
  std::vector<QFrame*> pages_;   // in page-list order
  QFrame* eventsPage_ = nullptr;
  // Events page.
  QListWidget* eventList_ = nullptr;
  QPushButton* clearEventsButton_ = nullptr;
  // Preferences page.
  QCheckBox* enableBox_ = nullptr;
  QCheckBox* profileStatsBox_ = nullptr;
  QCheckBox* awayStatsBox_ = nullptr;
  QRadioButton* ownAwayRadio_ = nullptr;
  QRadioButton* blockAwayRadio_ = nullptr;
  QLabel* intervalLabel_ = nullptr;
  QLineEdit* intervalEdit_ = nullptr;
  QScrollBar* intervalSpin_ = nullptr;
  QLabel* intervalUnitLabel_ = nullptr;
  QLabel* rateLimitWarning_ = nullptr;
  QCheckBox* trayBox_ = nullptr;
  QLineEdit* portEdit_ = nullptr;
  QCheckBox* launchBox_ = nullptr;
  QLineEdit* launchPathEdit_ = nullptr;
  QPushButton* browseButton_ = nullptr;
  QCheckBox* autostartBox_ = nullptr;
  QCheckBox* sendOnChangeBox_ = nullptr;
  QComboBox* playerCombo_ = nullptr;
  QLineEdit* ignorePlayersEdit_ = nullptr;
  // Replace page.
  std::array<FieldRow, kMediaFieldCount> fieldRows_{};  // in MediaField order
  QCheckBox* bufferBox_ = nullptr;
  QLineEdit* bufferTextEdit_ = nullptr;
  QCheckBox* limitBox_ = nullptr;
  // Replace Continued page.
  QLineEdit* blockTokenEdit_ = nullptr;
  QPlainTextEdit* blockEdit_ = nullptr;
  // About page.
  ElidedLabel* settingsFileLabel_ = nullptr;
  ElidedLabel* playerLabel_ = nullptr;
  ElidedLabel* listeningLabel_ = nullptr;
  // Below the pages.
  ElidedLabel* listenerStatus_ = nullptr;
  ElidedLabel* playerStatus_ = nullptr;

  QTimer updateTimer_;
  QTimer statusTimer_;  // keeps the status current between events
  TrayIcon* tray_ = nullptr;
};

}  // namespace quorvel
