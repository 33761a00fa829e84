// The main window's reactions, status, tray menu, starting and shutting down, driven as a user and
// the program drive them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <fstream>

#include "gui/url_recorder.h"
#include "gui/window_fixture.h"
#include "settings/original_prefs.h"
#include "settings/preferences_settings.h"
#include "settings/prefs_store.h"
#include "settings/settings_table.h"
#include "settings/test_files.h"

namespace quorvel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST_F(WindowTest, PortBoxRestartsTheListenerOnceEditingFinishesUnlessTheClientIsConnected) {
  journal.clear();
  QLineEdit* port = Edit("portEdit");
  TypePort(QStringLiteral("4000"), false);  // typing alone restarts nothing
  EXPECT_TRUE(journal.empty());
  EXPECT_EQ(window->Settings().port, "4000");
  QTest::keyClick(port, Qt::Key_Return);
  QTest::keyClick(port, Qt::Key_Return);  // the same port again: nothing to do
  emit port->editingFinished();           // nor when the focus leaves
  EXPECT_THAT(journal, ElementsAre("Stop", "Listen 4000"));
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Port Changed"));

  // Text that is no port is refused as it is typed, where it was typed.
  for (const char* text : {"abc", "0", "65536", "-1", " 80", "99999999999", "40 0"}) {
    port->setText(QString::fromLatin1(text));
    EXPECT_EQ(port->text(), "4000") << text;
  }
  port->setCursorPosition(2);
  QTest::keyClick(port, Qt::Key_X);
  EXPECT_EQ(port->cursorPosition(), 2);
  // An emptied box becomes 1100 when editing finishes.
  journal.clear();
  TypePort(QString());
  EXPECT_EQ(port->text(), "1100");
  activeSlot = 3;  // the client's slot is gone: the change goes through
  connectedSlot = 1;
  TypePort(QStringLiteral("65535"));
  connectedSlot = 3;  // while the client is connected a new port waits for the next start
  TypePort(QStringLiteral("4001"));
  EXPECT_EQ(window->Settings().port, "4001");
  EXPECT_THAT(journal, ElementsAre("Stop", "Listen 1100", "Stop", "Listen 65535"));
  EXPECT_THAT(log.Lines(), ElementsAre("3 x Port Changed"));

  // A port that could not be listened on is tried again on Enter.
  connectedSlot = -1;
  refusedPort = 4002;
  journal.clear();
  TypePort(QStringLiteral("4002"));
  refusedPort = 0;
  QTest::keyClick(port, Qt::Key_Return);
  EXPECT_THAT(journal, ElementsAre("Stop", "Listen 4002", "Stop", "Listen 4002"));

  // Closing while a restart runs (between stopping and starting): the listener stays stopped.
  journal.clear();
  window->show();
  QMetaObject::invokeMethod(window.get(), &QWidget::close, Qt::QueuedConnection);
  TypePort(QStringLiteral("4003"));
  EXPECT_THAT(journal, ElementsAre("Stop", "Save (tray shown)", "Stop"));
}

TEST_F(WindowTest, PortFromTheCommandLineIsListenedOnForThisRunAndTheStoredOneSaved) {
  file = Preferences();
  file->port = "4000";
  journal.clear();
  Restart([](MainWindow& w) { w.ListenForThisRunOn(4567); });
  EXPECT_THAT(journal, ElementsAre("Reset", "Listen 4567"));
  EXPECT_TRUE(log.Lines().empty());  // nothing changed while loading
  EXPECT_EQ(Edit("portEdit")->text(), "4000");
  EXPECT_THAT(Shown("listenerStatus").toStdString(),
              HasSubstr("Listening on 127.0.0.1:4567 (--port, for this run only)"));
  window->Shutdown();
  EXPECT_EQ(saved->port, "4000");
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
                           "playerComboLabel", "playerCombo",     "ignorePlayersLabel",
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

TEST_F(WindowTest, MinimisingGoesToTheTrayOnlyWithTheTrayBoxAndANotificationAreaAndTheTrayMenu) {
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
  const auto show = [this] { TrayAction("showAction")->trigger(); };
  for (const auto& bringBack : std::vector<std::function<void()>>{
           [this] { emit Tray()->activated(QSystemTrayIcon::Trigger); },
           [this] { emit Tray()->activated(QSystemTrayIcon::DoubleClick); }, show}) {
    EXPECT_FALSE(minimise());
    // The right button opens the menu instead.
    for (const auto other : {QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Context})
      emit Tray()->activated(other);
    EXPECT_FALSE(window->isVisible());
    bringBack();
    EXPECT_TRUE(window->isVisible() && !window->isMinimized());  // at its normal size
  }

  // The menu's switch is the enable box's, reactions included.
  EXPECT_TRUE(TrayAction("enableAction")->isChecked());
  TrayAction("enableAction")->trigger();
  EXPECT_EQ(Box("enableBox")->checkState(), Qt::Unchecked);
  EXPECT_FALSE(Box("profileStatsBox")->isEnabled());
  Box("enableBox")->setChecked(true);
  EXPECT_TRUE(TrayAction("enableAction")->isChecked());
  // Quit works from the tray alone, through the closing sequence.
  int shutdowns = 0;
  QObject::connect(window.get(), &MainWindow::shutDown, [&] { ++shutdowns; });
  window->hide();
  journal.clear();
  TrayAction("quitAction")->trigger();
  EXPECT_THAT(journal, ElementsAre("Save (tray shown)", "Stop"));
  EXPECT_EQ(shutdowns, 1);
}

TEST_F(WindowTest, StatusFollowsTheListenerTheClientsTheScreenNameAndThePlayer) {
  window->show();
  auto expect = [this](const char* listener, const char* playerText, const char* tip) {
    EXPECT_EQ(Shown("listenerStatus").toStdString(), listener);
    EXPECT_EQ(Shown("playerStatus").toStdString(), playerText);
    EXPECT_EQ(Tray()->toolTip().toStdString(), tip);
  };
  expect("Listening on 127.0.0.1:3131 \u00B7 no client connected \u00B7 not signed on",
         "Now playing: Band \u2013 Tune (fake player)",
         "Quorvel: 127.0.0.1:3131 \u00B7 no client connected\nBand \u2013 Tune");
  EXPECT_THAT(Shown("settingsFileLabel").toStdString(),
              HasSubstr("/home/me/.config/quorvel/prefs.ini"));
  EXPECT_EQ(Shown("playerLabel"), "Media player: fake player");
  EXPECT_EQ(Shown("listeningLabel"), "Listening on: 127.0.0.1:3131");

  // A relay event shows the clients at once; a login reply the screen name.
  clients = 2;
  window->RelayEventSeen(1, "Connecting: 192.0.2.7");
  screenName = "Some Body";
  title(" [ Some Body ] - Quorvel");
  EXPECT_EQ(Shown("listenerStatus").toStdString(),
            "Listening on 127.0.0.1:3131 \u00B7 2 clients connected \u00B7 signed on as Some Body");
  // Without an event the status catches up within its tick.
  clients = 1;
  EXPECT_TRUE(QTest::qWaitFor(
      [this] { return Shown("listenerStatus").contains(QStringLiteral("1 client connected")); },
      5000));

  // The player tells of its changes. Names from outside are never read as markup.
  player.playing.playStatus = kPlayPaused;
  player.playing.track->song = "<b>Tune</b>";
  window->PlayerChanged();
  EXPECT_EQ(Shown("playerStatus").toStdString(),
            "Now playing: Band \u2013 <b>Tune</b> (paused) (fake player)");
  EXPECT_EQ(Get<QLabel>("playerStatus")->textFormat(), Qt::PlainText);
  EXPECT_THAT(Get("playerStatus")->toolTip().toStdString(), HasSubstr("&lt;b&gt;Tune"));
  EXPECT_THAT(Tray()->toolTip().toStdString(), HasSubstr("\u2039b\u203ATune\u2039/b\u203A"));
  player.playing = PlayerSnapshot{};
  window->PlayerChanged();
  expect("Listening on 127.0.0.1:3131 \u00B7 1 client connected \u00B7 signed on as Some Body",
         "Nothing playing: no media player found (fake player)",
         "Quorvel: 127.0.0.1:3131 \u00B7 1 client connected\nNothing playing");

  // A port that cannot be listened on: why, and what to do.
  refusedPort = 4000;
  TypePort(QStringLiteral("4000"));
  expect(
      "Not listening on 127.0.0.1:4000: The bound address is already in use. Type another "
      "port under Preferences and press Enter",
      "Nothing playing: no media player found (fake player)",
      "Quorvel: not listening on 127.0.0.1:4000\nNothing playing");
  EXPECT_NE(Get("listenerStatus")->palette().color(QPalette::WindowText),
            window->palette().color(QPalette::WindowText));
  EXPECT_EQ(Shown("listeningLabel"), "Listening on: nothing (not listening)");
}

TEST_F(WindowTest, ListeningBeyondThisMachineIsWarnedOfEverywhere) {
  file = Preferences();
  file->bindAddress = "0.0.0.0";
  ::testing::internal::CaptureStderr();
  Restart();
  const std::string warning =
      "Warning: listening on 0.0.0.0:3131, not only on this machine: other machines can use this "
      "proxy";
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr(warning));
  EXPECT_THAT(log.Lines(), ElementsAre("1 x " + warning));
  EXPECT_THAT(Shown("listenerStatus").toStdString(), HasSubstr(warning));
  EXPECT_THAT(Tray()->toolTip().toStdString(), HasSubstr("(open to other machines)"));
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
  p.sendOnChange = false;
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
  // The stored port is listened on once; loading it is no change of port.
  EXPECT_THAT(journal, ElementsAre("Reset", "Listen 4000"));
  EXPECT_TRUE(log.Lines().empty());
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

TEST_F(WindowTest, EveryEditReachesWhatCompositionReadsAtOnceAndTypedTextStaysAsTyped) {
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
  EXPECT_TRUE(settings.SendOnChange());
  Box("sendOnChangeBox")->setChecked(false);
  EXPECT_FALSE(settings.SendOnChange());
  Box("enableBox")->setChecked(false);
  EXPECT_FALSE(settings.Enabled());
  EXPECT_FALSE(Box("sendOnChangeBox")->isEnabled());

  // The editable boxes keep the text as typed; one that is no item chooses none.
  for (const auto& [name, typed] :
       {std::pair{"artistJustifyCombo", "right"}, {"songCaseCombo", "upper"}}) {
    QLineEdit* edit = Combo(name)->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, typed);
    QTest::keyClick(edit, Qt::Key_Return);
    emit edit->editingFinished();
    EXPECT_EQ(Combo(name)->currentText(), typed);
  }
  EXPECT_EQ(window->Settings().Field(MediaField::kArtist).justification, "right");
  EXPECT_EQ(window->Settings().Field(MediaField::kSong).caseIndex, -1);
  Combo("artistJustifyCombo")->lineEdit()->selectAll();
  QTest::keyClicks(Combo("artistJustifyCombo")->lineEdit(), "Right");
  QTest::keyClick(Combo("artistJustifyCombo")->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(Combo("artistJustifyCombo")->currentIndex(), 2);
}

// The window over a real prefs.ini: what nobody changed is written back with its own bytes.
TEST_F(WindowTest, FileWrittenOnWindowsKeepsItsBytesAndBlankPadsSurviveRestarts) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("prefs.ini"));
  ASSERT_TRUE(WriteBytes(path, kOriginalPrefs));
  PrefsStore store(path);
  PrefsStoreFile prefsFile(store);
  // One run of the window with the file: `edit` acts between starting and closing.
  const auto run = [&](const std::function<void()>& edit) {
    window.reset();
    window = std::make_unique<MainWindow>(log);
    window->Attach(*this, *this, prefsFile);
    window->Start();
    if (edit) edit();
    window->Shutdown();
  };
  run([this] {
    // Bytes that are not UTF-8 are shown as Windows-1252.
    EXPECT_EQ(Get<QPlainTextEdit>("blockEdit")->document()->toRawText(),
              "Caf\u00E9:\u00A0\u2029%a - %s\u2029");
    EXPECT_EQ(Edit("bufferTextEdit")->text(), "\u00AB%a\u00BB");
    EXPECT_EQ(Edit("launchPathEdit")->text(), "C:\\Programme\\M\u00FCller\\aim.exe");
    // An edit taken back is no change.
    Edit("bufferTextEdit")->setText(QStringLiteral("x"));
    Edit("bufferTextEdit")->setText(QString::fromUtf8("\u00AB%a\u00BB"));
  });
  EXPECT_EQ(ReadBytes(path), kOriginalPrefs);

  // Edited texts are stored as UTF-8; a pad of one blank comes back after two restarts.
  run([this] {
    Edit("artistPadEdit")->setText(QStringLiteral(" "));
    Edit("launchPathEdit")->setText(QString::fromUtf8("/opt/M\u00FCller/aim"));
  });
  for (int restart = 0; restart < 2; ++restart) {
    run([this] {
      EXPECT_EQ(Edit("artistPadEdit")->text(), " ");
      EXPECT_EQ(window->Settings().Field(MediaField::kArtist).pad, " ");
    });
  }
  const Bytes written = ReadBytes(path);
  EXPECT_THAT(written, HasSubstr("\r\nartistW=\" \"\r\n"));
  EXPECT_THAT(written, HasSubstr("\r\nlaunchpath=/opt/M\xC3\xBCller/aim\r\n"));
  EXPECT_THAT(written, HasSubstr("\r\nreplaceIIblock=Caf\xE9:\xA0<BR>%a - %s<BR>\r\n"));
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

TEST_F(WindowTest, PlayerBoxListsThePlayersPresentAndTheChoiceCountsAtOnce) {
  EXPECT_EQ(Items("playerCombo"), QStringList{"Automatic"});
  EXPECT_EQ(Combo("playerCombo")->currentText(), "Automatic");
  EXPECT_EQ(player.choice.preferred, "");

  // Stored: a player that is not there now, and an ignore list. Each player is listed once, by
  // the name its instances share.
  player.present.players = {Present("vlc.instance7"), Present("spotify"), Present("vlc.instance9")};
  file = Preferences();
  file->player = "mpv";
  file->ignorePlayers = "firefox, chromium";
  SetUp();
  QComboBox* box = Combo("playerCombo");
  EXPECT_EQ(Items("playerCombo"), (QStringList{"Automatic", "spotify", "vlc"}));
  EXPECT_EQ(box->currentText(), "mpv");
  EXPECT_EQ(player.choice.preferred, "mpv");
  EXPECT_EQ(player.choice.ignored, (std::vector<std::string>{"firefox", "chromium"}));

  // Chosen from the list, typed, set back to automatic: the player is told each time.
  box->setCurrentIndex(box->findText(QStringLiteral("vlc")));
  EXPECT_EQ(player.choice.preferred, "vlc");
  // Players come and go: the list follows, the choice stays, even when its player has left.
  player.present.players = {Present("mpv")};
  player.watch.playersChanged();
  EXPECT_EQ(Items("playerCombo"), (QStringList{"Automatic", "mpv"}));
  EXPECT_EQ(box->currentText(), "vlc");
  EXPECT_EQ(window->Settings().player, "vlc");
  box->lineEdit()->selectAll();
  QTest::keyClicks(box->lineEdit(), QStringLiteral("rhythmbox"));
  EXPECT_EQ(player.choice.preferred, "rhythmbox");
  box->setCurrentIndex(0);
  EXPECT_EQ(player.choice.preferred, "");
  Edit("ignorePlayersEdit")->setText(QStringLiteral(" firefox ,kdeconnect"));
  EXPECT_EQ(player.choice.ignored, (std::vector<std::string>{"firefox", "kdeconnect"}));

  window->Shutdown();
  EXPECT_EQ(saved->player, "");
  EXPECT_EQ(saved->ignorePlayers, " firefox ,kdeconnect");
  follow.reset();  // stops the watch
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
