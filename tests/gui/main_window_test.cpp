// The main window's reactions, starting and shutting down, driven as a user and the program drive
// them. The fixture stands in for the relay, the monitor, the settings file and the media player,
// and notes what they are told in one journal, so that the order of the steps shows.

#include "gui/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <functional>
#include <memory>

#include "gui/url_recorder.h"
#include "media/fake_media.h"
#include "settings/preferences_settings.h"
#include "settings/settings_table.h"

namespace quorvel::testing {
namespace {

using ::testing::ElementsAre;

struct WindowTest : ::testing::Test, RelayControl, MonitorPort, SettingsFile {
  // Builds a fresh window and starts it with `file` (tests call it again to start over).
  void SetUp() override {
    window.reset();
    window = std::make_unique<MainWindow>(log);
    window->SetTrayAvailability([this] { return trayAvailable; });
    window->Attach(*this, *this, *this);
    window->AttachPlayer(player);
    window->Start();
  }

  void StartListening(std::uint16_t p) override { journal.push_back("Listen " + std::to_string(p)); }
  void StopListening() override { journal.push_back("Stop"); }
  bool IsClientConnected(SlotIndex index) const override { return index == connectedSlot; }
  ConnectionId ClientConnection(SlotIndex) const override { return 0; }
  std::uint16_t ListeningPort() const override { return 0; }
  int ClientCount() const override { return 0; }
  void SendBytes(Toward, SlotIndex, BytesView) override {}
  void SendFrame(Toward, SlotIndex, Bytes&) override {}
  void ResetForStartUp() override { journal.push_back("Reset"); }
  SlotIndex ActiveSlot() const override { return activeSlot; }
  void RunTimedUpdates() override { ++ticks; }
  void SetTitleListener(std::function<void(const std::string&)> f) override { title = f; }
  std::optional<Preferences> Load() override { return file; }
  void Save(const Preferences& prefs) override {
    journal.push_back(Tray()->isVisible() ? "Save (tray shown)" : "Save (no tray)");
    saved = prefs;
  }

  template <class W = QWidget>
  W* Get(const char* name) {
    W* widget = window->findChild<W*>(QLatin1String(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QLineEdit* Edit(const char* name) { return Get<QLineEdit>(name); }
  QCheckBox* Box(const char* name) { return Get<QCheckBox>(name); }
  QRadioButton* Radio(const char* name) { return Get<QRadioButton>(name); }
  QComboBox* Combo(const char* name) { return Get<QComboBox>(name); }
  QScrollBar* Spin() { return Get<QScrollBar>("intervalSpin"); }
  QTimer* Timer() { return Get<QTimer>("updateTimer"); }
  QSystemTrayIcon* Tray() { return Get<QSystemTrayIcon>("trayIcon"); }

  std::vector<std::string> journal;
  SlotIndex activeSlot = 0, connectedSlot = -1;  // no client connected
  int ticks = 0;
  std::function<void(const std::string&)> title;
  std::optional<Preferences> file, saved;
  bool trayAvailable = true;
  FakePlayer player;
  EventLog log;
  std::unique_ptr<MainWindow> window;  // destroyed first: it observes the log
};

TEST_F(WindowTest, PortBoxRestartsTheListenerForEachPortUnlessTheClientIsConnected) {
  journal.clear();
  QLineEdit* port = Edit("portEdit");
  QTest::keyClick(port, Qt::Key_Backspace);  // "313"
  for (const char* text : {"abc", "0", "65536", "-1", " 80", "99999999999", "40 0"}) {
    port->setText(QString::fromLatin1(text));
    EXPECT_EQ(port->text(), "313") << text;
  }
  port->setCursorPosition(2);
  QTest::keyClick(port, Qt::Key_X);  // refused where it was typed
  EXPECT_EQ(port->cursorPosition(), 2);
  EXPECT_EQ(window->Settings().port, "313");
  port->clear();  // becomes 1100: that nested change restarts first, then the outer one again
  EXPECT_EQ(port->text(), "1100");
  activeSlot = 3;  // the client's slot is gone: the change goes through
  connectedSlot = 1;
  port->setText(QStringLiteral("65535"));
  connectedSlot = 3;  // while the client is connected a new port waits for the next start
  port->setText(QStringLiteral("4000"));
  port->setText(QStringLiteral("4000x"));
  EXPECT_EQ(port->text(), "4000");
  port->clear();
  EXPECT_EQ(window->Settings().port, "");  // kept as typed, for the next start
  EXPECT_THAT(journal, ElementsAre("Stop", "Listen 313", "Stop", "Listen 1100", "Stop",
                                   "Listen 1100", "Stop", "Listen 65535"));
  EXPECT_THAT(log.Lines(), ElementsAre("4 x Port Changed"));

  // Closing while a restart runs (between stopping and starting): the listener stays stopped.
  journal.clear();
  connectedSlot = -1;
  window->show();
  QMetaObject::invokeMethod(window.get(), &QWidget::close, Qt::QueuedConnection);
  port->setText(QStringLiteral("4000"));
  EXPECT_THAT(journal, ElementsAre("Stop", "Save (tray shown)", "Stop"));
}

TEST_F(WindowTest, IntervalBoxAndSpinControlStayTiedAndDriveTheTimer) {
  auto expectInterval = [this](int ms, const char* typed = nullptr) {
    if (typed) Edit("intervalEdit")->setText(QString::fromLatin1(typed));
    EXPECT_EQ(Edit("intervalEdit")->text(), QString::number(ms));
    EXPECT_EQ(Spin()->value(), kSpinMax - ms);
    EXPECT_EQ(window->Settings().IntervalMs(), ms);
    EXPECT_EQ(Timer()->isActive(), ms > 0);  // 0 stops the updates
    EXPECT_EQ(Timer()->interval(), ms);
  };
  Spin()->setValue(kSpinMax - 20);
  expectInterval(20);
  Spin()->triggerAction(QAbstractSlider::SliderSingleStepSub);  // the up arrow: 10 ms more
  expectInterval(30);
  EXPECT_TRUE(QTest::qWaitFor([this] { return ticks > 0; }, 5000));
  // Texts typed in turn, and the interval each leaves: a refused one keeps the spin's.
  const std::pair<const char*, int> typed[] = {{"", 3000},       {"1234", 1234}, {"32767", 32767},
                                               {"40000", 32767}, {"-5", 32767},  {"0", 0}};
  for (const auto& [text, ms] : typed) {
    SCOPED_TRACE(std::string("typed \"") + text + "\"");
    expectInterval(ms, text);
  }
  // An update asked for by the player runs only while the timer does.
  ticks = 0;
  window->RunUpdatesNow();
  EXPECT_EQ(ticks, 0);
  expectInterval(1234, "1234");
  window->RunUpdatesNow();
  EXPECT_EQ(ticks, 1);
}

TEST_F(WindowTest, EnableAndAwaySwitchesGovernTheirDependants) {
  // Every control of the page but these follows the enable switch.
  const QStringList own = {"enableBox",        "trayBox",         "launchBox",
                           "portLabel",        "launchWhenLabel", "portEdit",
                           "launchPathEdit",   "browseButton",    "autostartBox",
                           "playerLabel",      "playerCombo",     "ignorePlayersLabel",
                           "ignorePlayersEdit"};
  auto expectEnabled = [&](bool on) {
    for (const QWidget* w :
         Get("preferencesPage")->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      EXPECT_EQ(w->isEnabled(), on || own.contains(w->objectName())) << qPrintable(w->objectName());
  };
  auto awayOptions = [this] {
    return Radio("ownAwayRadio")->isEnabled() + Radio("blockAwayRadio")->isEnabled();
  };
  Box("enableBox")->setChecked(false);
  expectEnabled(false);
  Box("enableBox")->setCheckState(Qt::PartiallyChecked);  // a greyed switch counts as on
  expectEnabled(true);
  Box("awayStatsBox")->setChecked(false);
  EXPECT_EQ(awayOptions(), 0);
  Box("enableBox")->setChecked(false);
  Box("enableBox")->setChecked(true);
  EXPECT_EQ(awayOptions(), 0);  // they come back with the enable switch only with the away switch
  Box("awayStatsBox")->setChecked(true);
  EXPECT_EQ(awayOptions(), 2);
}

// Each text box of the Replace page; the length boxes take digits only.
struct TextBoxKeys : WindowTest, ::testing::WithParamInterface<const char*> {};

TEST_P(TextBoxKeys, LengthBoxesTakeOnlyDigitsAndKeysWithoutACharacter) {
  const bool length = QLatin1String(GetParam()).endsWith(QLatin1String("LengthEdit"));
  QLineEdit* box = Edit(GetParam());
  box->setText(QStringLiteral("0"));
  QTest::keyClick(box, Qt::Key_Backspace);  // a length box keeps its last character
  QTest::keyClicks(box, QStringLiteral("a-7"));
  EXPECT_EQ(box->text(), length ? "07" : "a-7");
  for (const auto key : {Qt::Key_Home, Qt::Key_Delete, Qt::Key_5, Qt::Key_End, Qt::Key_Backspace})
    QTest::keyClick(box, key);
  EXPECT_EQ(box->text(), length ? "5" : "5-");
}

INSTANTIATE_TEST_SUITE_P(ReplacePage, TextBoxKeys,
                         ::testing::Values("artistTokenEdit", "songTokenEdit", "statusTokenEdit",
                                           "timeTokenEdit", "totalTimeTokenEdit",
                                           "artistLengthEdit", "songLengthEdit", "statusLengthEdit",
                                           "timeLengthEdit", "totalTimeLengthEdit", "artistPadEdit",
                                           "songPadEdit", "statusPadEdit", "timePadEdit",
                                           "totalTimePadEdit", "bufferTextEdit"),
                         [](const auto& tested) { return std::string(tested.param); });

TEST_F(WindowTest, MinimisingGoesToTheTrayOnlyWithTheTrayBoxAndANotificationArea) {
  window->show();
  auto minimise = [this] {
    window->showMinimized();
    QCoreApplication::processEvents();
    return window->isVisible() && window->isMinimized();  // stays on the task bar
  };
  Box("trayBox")->setChecked(false);
  EXPECT_FALSE(Tray()->isVisible());
  EXPECT_TRUE(minimise());
  window->showNormal();
  Box("trayBox")->setChecked(true);
  EXPECT_TRUE(Tray()->isVisible());
  trayAvailable = false;  // a desktop without a notification area
  EXPECT_TRUE(minimise());
  window->showNormal();
  trayAvailable = true;
  for (const auto reason :
       {QSystemTrayIcon::Trigger, QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick}) {
    minimise();
    emit Tray()->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_FALSE(window->isVisible() || window->isMinimized());  // hidden, at its normal size
    emit Tray()->activated(reason);
    EXPECT_TRUE(window->isVisible()) << reason;
  }
}

// Every setting reads the same from both.
void ExpectSame(const Preferences& a, const Preferences& b) {
  for (const Setting& setting : SettingTable()) {
    EXPECT_EQ(SettingText(a, setting), SettingText(b, setting)) << setting.key;
  }
}

TEST_F(WindowTest, StartingWithoutAFileListensWithTheDefaultsAndClosingSavesOnce) {
  EXPECT_THAT(journal, ElementsAre("Reset", "Listen 3131"));
  ExpectSame(window->Settings(), Preferences());
  EXPECT_TRUE(Timer()->isActive());
  EXPECT_EQ(Timer()->interval(), 5000);
  EXPECT_TRUE(Tray()->isVisible());
  EXPECT_TRUE(Get("eventsPage")->isVisibleTo(window.get()));  // the Events page, and no other
  EXPECT_FALSE(Get("preferencesPage")->isVisibleTo(window.get()));
  // The event log and the title are shown as they change.
  log.ListAdd("Closed");
  log.ListAdd("Closed");
  auto* events = Get<QListWidget>("eventList");
  ASSERT_EQ(events->count(), 1);
  EXPECT_EQ(events->item(0)->text(), "2 x Closed");
  Get<QPushButton>("clearEventsButton")->click();
  EXPECT_EQ(events->count() + log.LineCount(), 0);
  title(" [ Some Body ] - Quorvel");
  EXPECT_EQ(window->windowTitle(), " [ Some Body ] - Quorvel");

  journal.clear();
  window->show();
  int shutdowns = 0;
  QObject::connect(window.get(), &MainWindow::shutDown, [&] { ++shutdowns; });
  Combo("statusCaseCombo")->setEditText(QStringLiteral("Shout"));
  window->close();
  window->close();
  window->Shutdown();
  // Saved while the icon is still there; then the icon goes and the listener stops.
  EXPECT_THAT(journal, ElementsAre("Save (tray shown)", "Stop"));
  EXPECT_FALSE(Tray()->isVisible());
  EXPECT_FALSE(Timer()->isActive());
  EXPECT_EQ(shutdowns, 1);
  EXPECT_EQ(saved->Field(MediaField::kStatus).caseIndex, -1);  // a text that is no item
}

TEST_F(WindowTest, StartingSetsTheStoredValuesWithTheirReactionsAndClosingSavesThem) {
  Preferences p;
  p.port = "4000";
  p.minimizeToTray = p.enabled = p.profileUpdates = p.awayUpdates = 0;
  p.bindAddress = "127.0.0.2";  // has no control, and is saved as loaded
  p.awayUsesOwnMessage = false;
  p.launchPath = "/opt/im/client";
  p.intervalSpin = kSpinMax - 1000;
  p.Field(MediaField::kArtist) = {"[a]", kCaseUpper, "12", "-", "Left"};
  p.Field(MediaField::kSong) = {"[s]", -1, "7", ".", "Right"};
  p.Field(MediaField::kStatus) = {"", kCaseLower, "", "", "Centre"};  // no item: stays as text
  p.Field(MediaField::kTime) = {"[t]", kCaseFirstCap, "3", "*", "Center"};
  p.Field(MediaField::kTotalTime) = {"[x]", kCaseNone, "4", "=", "Left"};
  p.limitOnly = p.bufferOn = 1;
  p.bufferText = "<var>";
  p.blockToken = "%block";
  p.block = "line one\r\nline <two>\r\n\r\nlast";
  file = p;
  journal.clear();
  SetUp();
  ExpectSame(window->Settings(), p);
  // The stored port restarted the listener while the settings loaded; then the start listened.
  EXPECT_THAT(journal, ElementsAre("Reset", "Stop", "Listen 4000", "Listen 4000"));
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Port Changed"));
  EXPECT_EQ(Timer()->interval(), 1000);
  EXPECT_FALSE(Box("profileStatsBox")->isEnabled());
  EXPECT_FALSE(Radio("blockAwayRadio")->isEnabled());
  EXPECT_FALSE(Tray()->isVisible());
  EXPECT_EQ(Get<QPlainTextEdit>("blockEdit")->toPlainText(), "line one\nline <two>\n\nlast");
  // What composition reads: the block's lines end with CR LF again.
  const PreferencesSettings settings(window->Settings());
  EXPECT_EQ(settings.Block(), p.block);
  EXPECT_TRUE(settings.AwayUsesBlock());
  journal.clear();
  window->Shutdown();
  ExpectSame(*saved, p);
  EXPECT_THAT(journal, ElementsAre("Save (no tray)", "Stop"));
}

TEST_F(WindowTest, EveryEditReachesWhatCompositionReadsAtOnce) {
  const PreferencesSettings settings(window->Settings());
  QTest::keyClicks(Edit("songTokenEdit"), QStringLiteral("!"));
  EXPECT_EQ(settings.Field(MediaField::kSong).token, "%s!");
  Combo("artistCaseCombo")->setCurrentIndex(kCaseUpper);
  EXPECT_EQ(settings.Field(MediaField::kArtist).caseMode, kCaseUpper);
  Combo("timeJustifyCombo")->setCurrentIndex(2);
  EXPECT_EQ(settings.Field(MediaField::kTime).justification, "Right");
  QTest::keyClicks(Combo("totalTimeJustifyCombo")->lineEdit(), QStringLiteral("x"));
  EXPECT_EQ(settings.Field(MediaField::kTotalTime).justification, "Centerx");
  Box("limitBox")->setChecked(true);
  EXPECT_TRUE(settings.LimitOnly());
  Box("bufferBox")->setChecked(true);
  EXPECT_TRUE(settings.BufferOn());
  Edit("blockTokenEdit")->setText(QStringLiteral("%b"));
  EXPECT_EQ(settings.BlockToken(), "%b");
  Get<QPlainTextEdit>("blockEdit")->setPlainText(QStringLiteral("one\ntwo"));
  EXPECT_EQ(settings.Block(), "one\r\ntwo");
  Radio("blockAwayRadio")->setChecked(true);
  EXPECT_TRUE(settings.AwayUsesBlock());
  Box("enableBox")->setChecked(false);
  EXPECT_FALSE(settings.Enabled());
}

TEST_F(WindowTest, StartLaunchesTheClientOnlyWhenAskedAndGoesOnWhenItCannot) {
  QTemporaryDir dir;
  UrlRecorder files("file");
  const QString client = dir.filePath(QStringLiteral("client.sh"));  // not executable: opened
  std::ofstream(client.toStdString()) << "#!/bin/sh\n";
  for (const auto& [on, path] :
       {std::pair{0, client}, {1, QString()}, {1, QString("/no/such/client")}, {1, client}}) {
    file = Preferences();
    file->launchAtStart = on;
    file->launchPath = path.toStdString();
    SetUp();
  }
  EXPECT_THAT(files.opened, ElementsAre(QUrl::fromLocalFile(client)));
}

// A player present, as a listing gives it.
PlayerInfo Present(const char* name) {
  PlayerInfo info;
  info.busName = std::string("org.mpris.MediaPlayer2.") + name;
  info.state.found = true;
  return info;
}

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const QString& value) : name_(name), old_(qgetenv(name)) {
    qputenv(name, value.toUtf8());
  }
  ~ScopedEnvironment() {
    if (old_.isNull()) {
      qunsetenv(name_);
    } else {
      qputenv(name_, old_);
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  QByteArray old_;
};

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

TEST_F(WindowTest, PlayerBoxListsThePlayersPresentAndTheChoiceCountsAtOnce) {
  QComboBox* box = Combo("playerCombo");
  QLineEdit* ignore = Edit("ignorePlayersEdit");
  EXPECT_EQ(Items(box), QStringList{"Automatic"});
  EXPECT_EQ(box->currentText(), "Automatic");
  EXPECT_EQ(player.choice.preferred, "");

  // Stored: a player that is not there now, and an ignore list. Each player is listed once, by
  // the name its instances share.
  player.present.players = {Present("vlc.instance7"), Present("spotify"), Present("vlc.instance9")};
  file = Preferences();
  file->player = "mpv";
  file->ignorePlayers = "firefox, chromium";
  SetUp();
  EXPECT_EQ(Items(box = Combo("playerCombo")), (QStringList{"Automatic", "spotify", "vlc"}));
  EXPECT_EQ(box->currentText(), "mpv");
  EXPECT_EQ(player.choice.preferred, "mpv");
  EXPECT_EQ(player.choice.ignored, (std::vector<std::string>{"firefox", "chromium"}));

  // Chosen from the list, typed, set back to automatic: the player is told each time.
  box->setCurrentIndex(box->findText(QStringLiteral("vlc")));
  EXPECT_EQ(player.choice.preferred, "vlc");
  EXPECT_EQ(window->Settings().player, "vlc");
  // Players come and go: the list follows, the choice stays, even when its player has left.
  player.present.players = {Present("mpv")};
  player.watch.playersChanged();
  EXPECT_EQ(Items(box), (QStringList{"Automatic", "mpv"}));
  EXPECT_EQ(box->currentText(), "vlc");
  EXPECT_EQ(window->Settings().player, "vlc");
  box->lineEdit()->selectAll();
  QTest::keyClicks(box->lineEdit(), QStringLiteral("rhythmbox"));
  EXPECT_EQ(player.choice.preferred, "rhythmbox");
  box->setCurrentIndex(0);
  EXPECT_EQ(window->Settings().player, "");
  EXPECT_EQ(player.choice.preferred, "");
  ignore = Edit("ignorePlayersEdit");
  ignore->setText(QStringLiteral(" firefox ,kdeconnect"));
  EXPECT_EQ(player.choice.ignored, (std::vector<std::string>{"firefox", "kdeconnect"}));

  window->Shutdown();
  EXPECT_EQ(saved->player, "");
  EXPECT_EQ(saved->ignorePlayers, " firefox ,kdeconnect");
  window.reset();  // stops the watch
  EXPECT_FALSE(player.watch.playersChanged || player.watch.playbackChanged);
}

TEST_F(WindowTest, AutostartBoxWritesAndRemovesTheEntryAndSaysWhenItCannot) {
  QTemporaryDir config;
  const ScopedEnvironment configHome("XDG_CONFIG_HOME", config.path());
  const QString entry = config.filePath(QStringLiteral("autostart/org.quorvel.Quorvel.desktop"));
  QCheckBox* box = Box("autostartBox");
  EXPECT_FALSE(box->isChecked());

  box->click();
  EXPECT_TRUE(window->Settings().autostart);
  QFile written(entry);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_TRUE(written.readAll().contains(
      "\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\"\n"));
  box->click();
  EXPECT_FALSE(window->Settings().autostart);
  EXPECT_FALSE(QFile::exists(entry));

  // Loading the setting leaves the desktop's folder alone: only the user's click writes there.
  file = Preferences();
  file->autostart = true;
  SetUp();
  EXPECT_TRUE(Box("autostartBox")->isChecked());
  EXPECT_FALSE(QFile::exists(entry));

  // The folder cannot be made: the box goes back and the user is told why.
  ASSERT_TRUE(QDir(config.filePath(QStringLiteral("autostart"))).removeRecursively());
  QFile blocker(config.filePath(QStringLiteral("autostart")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  file = Preferences();
  SetUp();
  box = Box("autostartBox");
  box->click();
  EXPECT_FALSE(box->isChecked());
  EXPECT_FALSE(window->Settings().autostart);
  auto* message = window->findChild<QMessageBox*>(QStringLiteral("autostartError"));
  ASSERT_NE(message, nullptr);
  EXPECT_TRUE(message->text().startsWith(QStringLiteral("Cannot create the folder")))
      << message->text().toStdString();
  message->close();
}

}  // namespace
}  // namespace quorvel::testing
