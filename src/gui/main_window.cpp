#include "gui/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSystemTrayIcon>
#include <algorithm>
#include <iostream>
#include <optional>
#include <set>

#include "gui/app_icon.h"
#include "gui/elided_label.h"
#include "gui/launch_file.h"
#include "gui/tray_icon.h"
#include "media/media_player.h"
#include "media/player_choice.h"
#include "session/listener_report.h"
#include "settings/autostart_entry.h"
#include "settings/preferences_settings.h"
#include "settings/settings_table.h"

namespace quorvel {
namespace {

// A whole number of at most nine ASCII digits; anything else (signs, blanks) is not one.
std::optional<int> WholeNumber(const QString& text) {
  if (text.isEmpty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (const QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    value = value * 10 + (c.unicode() - u'0');
  }
  return value;
}

std::optional<std::uint16_t> PortOf(const QString& text) {
  return ParsePort(text.toStdString());
}

// Whether a length box takes `key`: digits, and keys that type no character, but not the
// backspace that would empty it.
bool LengthBoxTakes(const QLineEdit& box, const QKeyEvent& key) {
  if (key.key() == Qt::Key_Backspace) return box.text().size() > 1;
  if (key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab) return true;  // focus moves on
  const QString typed = key.text();
  if (typed.isEmpty()) return true;  // Delete, arrows and other keys without a character
  return typed.size() == 1 && typed[0] >= QLatin1Char('0') && typed[0] <= QLatin1Char('9');
}

// What a login reply never leaves as the screen name: the monitor's text before one.
bool IsScreenName(const std::string& name) {
  return !name.empty() && name.front() != '[';
}

// How often the status asks the relay (cheap) and, every kPlayerEvery ticks, the media player
// (a bus round trip) when the player does not tell of its changes itself.
constexpr int kStatusTickMs = 1000;
constexpr int kPlayerEvery = 5;

}  // namespace

MainWindow::MainWindow(EventLog& log, QWidget* parent)
    : QWidget(parent), log_(log), trayAvailable_(&QSystemTrayIcon::isSystemTrayAvailable) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QString::fromLatin1(kStartCaption));
  const QIcon icon = AppIcon();
  setWindowIcon(icon);
  QFont base = font();
  base.setPointSizeF(8);
  base.setStretch(QFont::Condensed);
  setFont(base);

  BuildPageList();
  eventsPage_ = AddPage("Events", 4935);
  QFrame* preferencesPage = AddPage("Preferences", 4815);
  QFrame* replacePage = AddPage("Replace", 4815);
  QFrame* replaceContinuedPage = AddPage("Replace Continued", 4935);
  QFrame* aboutPage = AddPage("About", 4935);
  BuildEventsPage(eventsPage_);
  BuildPreferencesPage(preferencesPage);
  BuildReplacePage(replacePage);
  BuildReplaceContinuedPage(replaceContinuedPage);
  BuildAboutPage(aboutPage);
  BuildStatusLines();
  ArrangeWindow();

  BindSettingControls();
  const Preferences defaults;
  for (const Setting& setting : SettingTable()) settingControls_.Show(setting, defaults);
  intervalEdit_->setText(QString::number(kSpinMax - intervalSpin_->value()));
  lastPortText_ = portEdit_->text();

  updateTimer_.setObjectName(QStringLiteral("updateTimer"));
  updateTimer_.setParent(this);
  statusTimer_.setObjectName(QStringLiteral("statusTimer"));
  statusTimer_.setParent(this);
  tray_ = new TrayIcon(icon, enableBox_->text(), this);
  tray_->ShowEnabled(enableBox_->checkState() == Qt::Checked);

  for (int row = 0; row < log_.LineCount(); ++row)
    eventList_->addItem(QString::fromStdString(log_.Line(row)));
  log_.SetObserver(this);

  ConnectReactions();
  RefreshPlayer();
  RefreshStatus();
}

MainWindow::~MainWindow() {
  log_.SetObserver(nullptr);
}

// One line per setting that has a control.
void MainWindow::BindSettingControls() {
  SettingControls& bind = settingControls_;
  bind.Bind({&Preferences::port}, portEdit_);
  bind.Bind({&Preferences::minimizeToTray}, trayBox_);
  bind.Bind({&Preferences::enabled}, enableBox_);
  bind.Bind({&Preferences::profileUpdates}, profileStatsBox_);
  bind.Bind({&Preferences::awayUpdates}, awayStatsBox_);
  bind.Bind({&Preferences::awayUsesOwnMessage}, ownAwayRadio_, blockAwayRadio_);
  bind.Bind({&Preferences::launchAtStart}, launchBox_);
  bind.Bind({&Preferences::launchPath}, launchPathEdit_);
  bind.Bind({&Preferences::intervalSpin}, intervalSpin_);
  bind.Bind({&Preferences::sendOnChange}, sendOnChangeBox_);
  bind.Bind({&Preferences::limitOnly}, limitBox_);
  bind.Bind({&Preferences::bufferOn}, bufferBox_);
  bind.Bind({&Preferences::bufferText}, bufferTextEdit_);
  bind.Bind({&Preferences::blockToken}, blockTokenEdit_);
  bind.Bind({&Preferences::block}, blockEdit_);
  bind.Bind({&Preferences::autostart}, autostartBox_);
  bind.Bind({&Preferences::player}, playerCombo_, QString::fromLatin1(kAutomaticPlayer));
  bind.Bind({&Preferences::ignorePlayers}, ignorePlayersEdit_);
  for (int i = 0; i < kMediaFieldCount; ++i) {
    const auto field = static_cast<MediaField>(i);
    const FieldRow& row = fieldRows_.at(static_cast<std::size_t>(i));
    bind.Bind({&FieldPrefs::token, field}, row.tokenEdit);
    bind.Bind({&FieldPrefs::caseIndex, field}, row.caseCombo);
    bind.Bind({&FieldPrefs::length, field}, row.lengthEdit);
    bind.Bind({&FieldPrefs::pad, field}, row.padEdit);
    bind.Bind({&FieldPrefs::justification, field}, row.justifyCombo);
  }
}

void MainWindow::ConnectReactions() {
  connect(pageList_, &QListWidget::currentRowChanged, this, &MainWindow::ShowSelectedPage);
  connect(enableBox_, &QCheckBox::stateChanged, this, &MainWindow::EnableDependentControls);
  connect(awayStatsBox_, &QCheckBox::stateChanged, this, &MainWindow::EnableAwayOptions);
  connect(trayBox_, &QCheckBox::stateChanged, this, &MainWindow::ShowOrHideTrayIcon);
  connect(portEdit_, &QLineEdit::textChanged, this, &MainWindow::KeepPortText);
  connect(portEdit_, &QLineEdit::editingFinished, this, &MainWindow::ApplyPort);
  connect(intervalEdit_, &QLineEdit::textChanged, this, &MainWindow::ApplyIntervalText);
  connect(intervalSpin_, &QScrollBar::valueChanged, this, &MainWindow::ApplyIntervalSpin);
  connect(browseButton_, &QPushButton::clicked, this, &MainWindow::BrowseForLaunchFile);
  // Only the user's clicks write or remove the entry: loading the settings leaves it as it is.
  connect(autostartBox_, &QCheckBox::clicked, this, &MainWindow::ApplyAutostart);
  connect(playerCombo_, &QComboBox::editTextChanged, this, &MainWindow::ApplyPlayerChoice);
  connect(ignorePlayersEdit_, &QLineEdit::textChanged, this, &MainWindow::ApplyPlayerChoice);
  for (const FieldRow& row : fieldRows_) row.lengthEdit->installEventFilter(this);
  connect(clearEventsButton_, &QPushButton::clicked, this, [this] { log_.Clear(); });
  connect(&updateTimer_, &QTimer::timeout, this, [this] {
    if (monitor_ != nullptr) monitor_->RunTimedUpdates();
  });
  connect(&statusTimer_, &QTimer::timeout, this, [this] {
    if (++statusTicks_ % kPlayerEvery == 0) RefreshPlayer();
    RefreshStatus();
  });
  connect(tray_, &TrayIcon::restoreRequested, this, &MainWindow::BringForward);
  connect(tray_, &TrayIcon::enableRequested, this,
          [this](bool on) { enableBox_->setCheckState(on ? Qt::Checked : Qt::Unchecked); });
  connect(enableBox_, &QCheckBox::stateChanged, tray_,
          [this] { tray_->ShowEnabled(enableBox_->checkState() == Qt::Checked); });
  // The same closing sequence as closing the window.
  connect(tray_, &TrayIcon::quitRequested, this, &QWidget::close);
}

void MainWindow::Attach(RelayControl& proxy, MonitorPort& monitor, SettingsFile& settingsFile) {
  proxy_ = &proxy;
  monitor_ = &monitor;
  settingsFile_ = &settingsFile;
  monitor_->SetTitleListener([this](const std::string& title) {
    setWindowTitle(QString::fromStdString(title));
    signedOn_ = true;
    RefreshStatus();
  });
}

void MainWindow::ListenForThisRunOn(std::uint16_t port) {
  runPort_ = port;
}

void MainWindow::AttachPlayer(MediaPlayer& player) {
  player_ = &player;
  ListPlayersPresent();
  ApplyPlayerChoice();
  // What it plays is asked by Start, once the stored choice is set.
}

void MainWindow::SetTrayAvailability(std::function<bool()> probe) {
  trayAvailable_ = std::move(probe);
}

bool MainWindow::TrayAvailable() const {
  return trayAvailable_ && trayAvailable_();
}

// ---------------------------------------------------------------------------------------------
// Starting and shutting down

void MainWindow::Start() {
  if (monitor_ != nullptr) monitor_->ResetForStartUp();

  // Each stored value is set into its control in the settings' load order, so that every
  // control's reaction runs and sees the controls set before it. Without a file the defaults stay.
  const std::optional<Preferences> stored =
      settingsFile_ != nullptr ? settingsFile_->Load() : std::nullopt;
  if (stored) ShowStoredSection(kKavoSection, *stored);
  // The interval box and the timer agree with the spin position even when nothing changed.
  intervalEdit_->setText(QString::number(kSpinMax - intervalSpin_->value()));
  if (const auto interval = WholeNumber(intervalEdit_->text())) SetUpdateInterval(*interval);
  if (stored) ShowStoredSection(kPrefsSection, *stored);

  lastPortText_ = portEdit_->text();
  signedOn_ = false;

  RefreshPlayer();
  if (trayBox_->checkState() == Qt::Checked) tray_->Add();
  pageList_->setCurrentRow(
      static_cast<int>(std::find(pages_.begin(), pages_.end(), eventsPage_) - pages_.begin()));
  const std::optional<std::uint16_t> boxPort = PortOf(portEdit_->text());
  if (proxy_ != nullptr && (runPort_ || boxPort)) Listen(runPort_ ? *runPort_ : *boxPort);
  RefreshStatus();
  statusTimer_.start(kStatusTickMs);
  if (launchBox_->checkState() == Qt::Checked) LaunchFile(launchPathEdit_->text());
}

void MainWindow::ShowStoredSection(std::string_view section, const Preferences& stored) {
  for (const Setting* setting : LoadOrder()) {
    if (setting->section == section) settingControls_.Show(*setting, stored);
  }
}

void MainWindow::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  if (settingsFile_ != nullptr) settingsSaved_ = settingsFile_->Save(settings_);
  if (tray_->IsPresent()) tray_->Remove();
  if (proxy_ != nullptr) proxy_->StopListening();
  updateTimer_.stop();
  statusTimer_.stop();
  emit shutDown();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  Shutdown();
  event->accept();
}

// ---------------------------------------------------------------------------------------------
// Reactions

void MainWindow::ShowSelectedPage() {
  const int selected = pageList_->currentRow();
  for (std::size_t i = 0; i < pages_.size(); ++i) {
    pages_[i]->setVisible(static_cast<int>(i) == selected);
  }
}

void MainWindow::EnableDependentControls() {
  const bool on = enableBox_->checkState() != Qt::Unchecked;
  profileStatsBox_->setEnabled(on);
  awayStatsBox_->setEnabled(on);
  const bool away = awayStatsBox_->checkState() != Qt::Unchecked && on;
  ownAwayRadio_->setEnabled(away);
  blockAwayRadio_->setEnabled(away);
  for (QWidget* control :
       std::initializer_list<QWidget*>{intervalLabel_, intervalEdit_, intervalSpin_,
                                       intervalUnitLabel_, rateLimitWarning_, sendOnChangeBox_}) {
    control->setEnabled(on);
  }
}

void MainWindow::EnableAwayOptions() {
  const bool away = awayStatsBox_->checkState() != Qt::Unchecked;
  ownAwayRadio_->setEnabled(away);
  blockAwayRadio_->setEnabled(away);
}

void MainWindow::ShowOrHideTrayIcon() {
  if (trayBox_->checkState() == Qt::Checked) {
    tray_->Add();
  } else {
    tray_->Remove();
  }
}

// Each keystroke: text that is no port (a letter, 0, 65536) is refused and the box goes back to
// the text it held; an empty box is allowed while typing. Nothing restarts yet.
void MainWindow::KeepPortText() {
  if (revertingPort_) return;
  const QString text = portEdit_->text();
  if (text.isEmpty() || PortOf(text)) {
    lastPortText_ = text;
    return;
  }
  const int cursor =
      portEdit_->cursorPosition() - static_cast<int>(text.size() - lastPortText_.size());
  const QScopedValueRollback<bool> reverting(revertingPort_, true);
  portEdit_->setText(lastPortText_);
  portEdit_->setCursorPosition(std::clamp(cursor, 0, static_cast<int>(lastPortText_.size())));
}

// Editing finished (Enter, or the focus left): the listener moves to the port in the box, once.
void MainWindow::ApplyPort() {
  if (portEdit_->text().isEmpty()) portEdit_->setText(QStringLiteral("1100"));
  const std::optional<std::uint16_t> port = PortOf(portEdit_->text());
  if (!port || proxy_ == nullptr) return;
  if (*port == listenPort_ && proxy_->ListeningPort() != 0) return;  // nothing changed
  // While the client is connected the port only waits for the next start.
  if (monitor_ != nullptr && proxy_->IsClientConnected(monitor_->ActiveSlot())) return;
  proxy_->StopListening();
  log_.ListAdd("Port Changed");
  QCoreApplication::processEvents();
  if (shutDown_) return;  // the window closed meanwhile: the listener stays stopped
  Listen(*port);
}

void MainWindow::Listen(std::uint16_t port) {
  listenPort_ = port;
  listenFailure_.clear();
  proxy_->StartListening(port);  // a failure comes back at once through RelayEventSeen
  if (proxy_->ListeningPort() != 0 && !IsLoopbackAddress(settings_.bindAddress)) {
    const std::string warning = BeyondLoopbackWarning(settings_.bindAddress, port);
    std::cerr << "quorvel: " << warning << std::endl;
    log_.ListAdd(warning);
  }
  RefreshStatus();
}

void MainWindow::ApplyIntervalText() {
  if (intervalEdit_->text().isEmpty()) {
    intervalEdit_->setText(QStringLiteral("3000"));  // runs this reaction again
  }
  const std::optional<int> interval = WholeNumber(intervalEdit_->text());
  if (!interval || *interval > intervalSpin_->maximum()) {
    // Runs this reaction again.
    intervalEdit_->setText(QString::number(kSpinMax - intervalSpin_->value()));
  } else {
    intervalSpin_->setValue(kSpinMax - *interval);
  }
  if (const auto now = WholeNumber(intervalEdit_->text())) SetUpdateInterval(*now);
}

void MainWindow::ApplyIntervalSpin() {
  intervalEdit_->setText(QString::number(kSpinMax - intervalSpin_->value()));
  if (const auto interval = WholeNumber(intervalEdit_->text())) SetUpdateInterval(*interval);
}

void MainWindow::RunUpdatesNow() {
  if (updateTimer_.isActive() && monitor_ != nullptr) monitor_->RunTimedUpdates();
}

void MainWindow::ListPlayersPresent() {
  if (player_ == nullptr) return;
  // Each player by the name it goes by whatever its instance, so that a choice outlasts the run.
  std::set<std::string> names;
  for (const PlayerInfo& player : player_->ListPlayers().players) {
    names.emplace(PlayerNameWithoutInstance(player.busName));
  }
  // The choice stays as it is while the list changes under it.
  const QSignalBlocker blocker(playerCombo_);
  const QString choice = playerCombo_->currentText();
  playerCombo_->clear();
  playerCombo_->addItem(QString::fromLatin1(kAutomaticPlayer));
  for (const std::string& name : names) playerCombo_->addItem(QString::fromStdString(name));
  const int index = playerCombo_->findText(choice);
  if (index >= 0) {
    playerCombo_->setCurrentIndex(index);
  } else {
    playerCombo_->setEditText(choice);
  }
}

void MainWindow::ApplyPlayerChoice() {
  if (player_ != nullptr) player_->SetChoice(PlayerChoiceOf(settings_));
}

void MainWindow::ApplyAutostart(bool enabled) {
  QString error;
  if (WriteAutostart(enabled, QCoreApplication::applicationFilePath(), &error)) return;
  autostartBox_->setChecked(!enabled);  // the box tells what the desktop will do
  auto* message = new QMessageBox(QMessageBox::Warning, QStringLiteral("Quorvel"), error,
                                  QMessageBox::Ok, this);
  message->setObjectName(QStringLiteral("autostartError"));
  message->setAttribute(Qt::WA_DeleteOnClose);
  message->open();
}

void MainWindow::SetUpdateInterval(int milliseconds) {
  updateTimer_.setInterval(milliseconds);
  if (milliseconds > 0 && !shutDown_) {
    updateTimer_.start();
  } else {
    updateTimer_.stop();  // an interval of 0 stops the updates
  }
}

void MainWindow::BrowseForLaunchFile() {
  QFileDialog dialog(this);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (!launchFileChoice_.isEmpty()) dialog.selectFile(launchFileChoice_);
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    launchFileChoice_ = dialog.selectedFiles().constFirst();
  } else if (launchFileChoice_.isEmpty()) {
    return;  // cancelled before any file was chosen: the box keeps its text
  }
  launchPathEdit_->setText(QDir::toNativeSeparators(launchFileChoice_));
}

bool MainWindow::IsLengthEdit(const QObject* object) const {
  return std::any_of(fieldRows_.begin(), fieldRows_.end(),
                     [object](const FieldRow& row) { return row.lengthEdit == object; });
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && IsLengthEdit(watched) &&
      !LengthBoxTakes(*static_cast<QLineEdit*>(watched), *static_cast<QKeyEvent*>(event))) {
    return true;  // discarded
  }
  return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// Tray and minimising

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Without a notification area the window stays on the task bar, so it can always be reached.
  const auto hidesToTray = [this] {
    return isMinimized() && trayBox_->checkState() == Qt::Checked && TrayAvailable();
  };
  if (event->type() != QEvent::WindowStateChange || !hidesToTray()) return;
  // Hidden once the window system has finished minimising, if the tray box is still ticked then.
  // The state stays minimised until the window is shown again (BringForward).
  QMetaObject::invokeMethod(
      this,
      [this, hidesToTray] {
        if (hidesToTray()) hide();
      },
      Qt::QueuedConnection);
}

void MainWindow::BringForward() {
  // The state goes back to normal only now, as the window is shown again: changing it while the
  // window is hidden maps it again on X11, as an empty frame.
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

// ---------------------------------------------------------------------------------------------
// Status

void MainWindow::RelayEventSeen(SlotIndex slot, const std::string& text) {
  if (const std::optional<std::string> failure = ListenFailureOf(slot, text)) {
    listenFailure_ = *failure;
  }
  RefreshStatus();
}

void MainWindow::PlayerChanged() {
  RefreshPlayer();
  RefreshStatus();
}

void MainWindow::RefreshPlayer() {
  if (player_ == nullptr) {
    playerFacts_ = PlayerFacts{false, "none", {}, {}, -1};
    return;
  }
  const PlayerSnapshot snapshot = player_->Query();
  playerFacts_.found = snapshot.found;
  playerFacts_.description = player_->Describe();
  playerFacts_.artist = snapshot.track ? snapshot.track->artist : std::string();
  playerFacts_.song = snapshot.track ? snapshot.track->song : std::string();
  playerFacts_.playStatus = snapshot.playStatus;
}

void MainWindow::RefreshStatus() {
  ListenerFacts listener;
  listener.address = settings_.bindAddress;
  listener.port = listenPort_;
  listener.portForThisRun = runPort_.has_value() && listenPort_ == *runPort_;
  listener.failure = listenFailure_;
  if (proxy_ != nullptr) {
    listener.listening = proxy_->ListeningPort() != 0;
    if (listener.listening) listener.port = proxy_->ListeningPort();
    listener.clients = proxy_->ClientCount();
  }
  if (monitor_ != nullptr && signedOn_ && listener.clients > 0) {
    const std::string name = monitor_->ScreenName();
    if (IsScreenName(name)) listener.screenName = name;
  }
  const StatusLines lines = DescribeStatus(listener, playerFacts_);
  listenerStatus_->SetFullText(QString::fromStdString(lines.listener));
  playerStatus_->SetFullText(QString::fromStdString(lines.player));
  QPalette palette = listenerStatus_->palette();
  palette.setColor(QPalette::WindowText, lines.alarming
                                             ? QColor(0xc0, 0, 0)
                                             : this->palette().color(QPalette::WindowText));
  listenerStatus_->setPalette(palette);
  tray_->SetToolTip(QString::fromStdString(TrayToolTip(listener, playerFacts_)));

  settingsFileLabel_->SetFullText(QStringLiteral("Settings: ") +
                                  (settingsFile_ != nullptr
                                       ? QDir::toNativeSeparators(settingsFile_->Location())
                                       : QStringLiteral("none")));
  playerLabel_->SetFullText(QStringLiteral("Media player: ") +
                            QString::fromStdString(playerFacts_.description));
  listeningLabel_->SetFullText(
      QStringLiteral("Listening on: ") +
      (listener.listening ? QString::fromStdString(EndpointText(listener.address, listener.port))
                          : QStringLiteral("nothing (not listening)")));
}

// ---------------------------------------------------------------------------------------------
// The event log

void MainWindow::LineAdded(int row, const std::string& line) {
  eventList_->insertItem(row, QString::fromStdString(line));
}

void MainWindow::LineChanged(int row, const std::string& line) {
  if (QListWidgetItem* item = eventList_->item(row)) item->setText(QString::fromStdString(line));
}

void MainWindow::Cleared() {
  eventList_->clear();
}

}  // namespace quorvel
