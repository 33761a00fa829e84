// The main window's reactions, status, tray menu, settings, starting and shutting down, driven as
// a user and the program drive them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "gui/launch_file.h"
#include "gui/window_fixture.h"
#include "settings/preferences_settings.h"
#include "settings/settings_table.h"
#include "settings/test_files.h"

namespace quorvel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST_F(WindowTest, PortBoxRestartsTheListenerOnceEditingFinishesUnlessTheClientIsConnected) {
  journal.clear();
  QLineEdit* port = Edit("portEdit");
  TypePort("4000", false);  // typing alone restarts nothing
  EXPECT_TRUE(journal.empty());
  QTest::keyClick(port, Qt::Key_Return);
  QTest::keyClick(port, Qt::Key_Return);  // the same port again: nothing to do
  EXPECT_THAT(journal, ElementsAre("Stop", "Listen 4000"));
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Port Changed"));
  // Text that is no port is refused as it is typed; an emptied box becomes 1100.
  for (const char* text : {"abc", "0", "65536", "-1", " 80", "40 0"})
    EXPECT_EQ((port->setText(text), port->text()), "4000") << text;
  journal.clear();
  TypePort("");
  connectedSlot = 0;  // while the client is connected a new port waits for the next start
  TypePort("4001");
  EXPECT_EQ(window->Settings().port, "4001");
  EXPECT_THAT(journal, ElementsAre("Stop", "Listen 1100"));
  // A port that could not be listened on: why, what to do, and tried again on Enter.
  connectedSlot = -1;
  refusedPort = 4002;
  journal.clear();
  TypePort("4002");
  EXPECT_EQ(Shown("listenerStatus"),
            "Not listening on 127.0.0.1:4002: The bound address is in use. Type another port "
            "under Preferences and press Enter");
  EXPECT_EQ(Tray()->toolTip().toStdString(),
            "Quorvel: not listening on 127.0.0.1:4002\nBand \u2013 Tune");
  refusedPort = 0;
  QTest::keyClick(port, Qt::Key_Return);
  EXPECT_THAT(journal, ElementsAre("Stop", "Listen 4002", "Stop", "Listen 4002"));
  // Closing while a restart runs (between stopping and starting): the listener stays stopped.
  journal.clear();
  window->show();
  QMetaObject::invokeMethod(window.get(), &QWidget::close, Qt::QueuedConnection);
  TypePort("4003");
  EXPECT_THAT(journal, ElementsAre("Stop", "Save (tray shown)", "Stop"));
}

TEST_F(WindowTest, IntervalBoxAndSpinControlStayTiedAndDriveTheTimer) {
  QScrollBar* spin = Get<QScrollBar>("intervalSpin");
  spin->setValue(kSpinMax - 20);
  spin->triggerAction(QAbstractSlider::SliderSingleStepSub);  // the up arrow: 10 ms more
  EXPECT_TRUE(QTest::qWaitFor([this] { return ticks > 0; }, 5000));
  // Texts typed in turn, and the interval each leaves: a refused one keeps the spin's.
  const std::pair<const char*, int> typed[] = {{nullptr, 30},    {"", 3000},       {"1234", 1234},
                                               {"32767", 32767}, {"40000", 32767}, {"-5", 32767},
                                               {"0", 0}};
  for (const auto& [text, ms] : typed) {
    SCOPED_TRACE(text ? text : "(the spin control)");
    if (text) Edit("intervalEdit")->setText(text);
    EXPECT_EQ(Edit("intervalEdit")->text(), QString::number(ms));
    EXPECT_EQ(spin->value(), kSpinMax - ms);
    EXPECT_EQ(window->Settings().IntervalMs(), ms);
    EXPECT_EQ(Timer()->isActive() ? Timer()->interval() : 0, ms);  // 0 stops the updates
  }
  // An update asked for by the player runs only while the timer does.
  ticks = 0;
  window->RunUpdatesNow();
  Edit("intervalEdit")->setText("1234");
  window->RunUpdatesNow();
  EXPECT_EQ(ticks, 1);
}

// A length box keeps its last character and takes digits and keys without a character only.
TEST_F(WindowTest, LengthBoxesTakeOnlyDigitsAndKeysWithoutACharacter) {
  for (const char* field : {"artist", "song", "status", "time", "totalTime"}) {
    QLineEdit* box = Edit(qPrintable(QStringLiteral("%1LengthEdit").arg(field)));
    box->setText(QStringLiteral("0"));
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, QStringLiteral("a-7"));
    for (const auto key : {Qt::Key_Home, Qt::Key_Delete, Qt::Key_5, Qt::Key_End})
      QTest::keyClick(box, key);
    EXPECT_EQ(box->text(), "57") << field;
  }
}

TEST_F(WindowTest, MinimisingGoesToTheTrayOnlyWithTheTrayBoxAndANotificationAreaAndTheTrayMenu) {
  window->show();
  auto minimise = [this] {
    window->showMinimized();
    QCoreApplication::processEvents();
    const bool onTaskBar = window->isVisible() && window->isMinimized();
    if (onTaskBar) window->showNormal();
    return onTaskBar;
  };
  Box("trayBox")->setChecked(false);
  EXPECT_TRUE(minimise() && !Tray()->isVisible());
  Box("trayBox")->setChecked(true);
  trayAvailable = false;  // a desktop without a notification area
  EXPECT_TRUE(minimise() && Tray()->isVisible());
  trayAvailable = true;
  EXPECT_FALSE(minimise());
  emit Tray()->activated(QSystemTrayIcon::Context);  // the right button opens the menu instead
  emit Tray()->activated(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(window->isVisible() && !window->isMinimized());  // at its normal size
  EXPECT_FALSE(minimise());
  TrayAction("showAction")->trigger();
  EXPECT_TRUE(window->isVisible());
  // The menu's switch is the enable box's, reactions included; a greyed box counts as on.
  TrayAction("enableAction")->trigger();
  EXPECT_FALSE(Box("enableBox")->isChecked() || Box("profileStatsBox")->isEnabled());
  Box("enableBox")->setCheckState(Qt::PartiallyChecked);
  EXPECT_TRUE(Box("profileStatsBox")->isEnabled() && !TrayAction("enableAction")->isChecked());
  Box("enableBox")->setChecked(true);
  EXPECT_TRUE(TrayAction("enableAction")->isChecked());
  // The away options come back with the enable switch only while the away switch is on.
  const auto awayOptions = [this] {
    return Get("ownAwayRadio")->isEnabled() + Get("blockAwayRadio")->isEnabled();
  };
  Box("awayStatsBox")->setChecked(false);
  Box("enableBox")->setChecked(false);
  Box("enableBox")->setChecked(true);
  EXPECT_EQ(awayOptions(), 0);
  Box("awayStatsBox")->setChecked(true);
  EXPECT_EQ(awayOptions(), 2);
  // Quit works from the tray alone, through the closing sequence.
  window->hide();
  journal.clear();
  TrayAction("quitAction")->trigger();
  EXPECT_THAT(journal, ElementsAre("Save (tray shown)", "Stop"));
}

// Every setting reads the same from both.
void ExpectSame(const Preferences& a, const Preferences& b) {
  for (const Setting& setting : SettingTable())
    EXPECT_EQ(SettingText(a, setting), SettingText(b, setting)) << setting.key;
}

TEST_F(WindowTest, StartingWithoutAFileShowsTheDefaultsAndTheStatusAsItChangesAndSavesOnce) {
  EXPECT_THAT(journal, ElementsAre("Reset", "Listen 3131"));
  ExpectSame(window->Settings(), Preferences());
  EXPECT_EQ(window->windowTitle(), kStartCaption);
  const auto expect = [this](const char* listener, const char* playerText, const char* tip) {
    EXPECT_EQ(Shown("listenerStatus"), listener);
    EXPECT_EQ(Shown("playerStatus"), playerText);
    EXPECT_EQ(Tray()->toolTip().toStdString(), tip);
  };
  expect("Listening on 127.0.0.1:3131 \u00B7 no client connected \u00B7 not signed on",
         "Now playing: Band \u2013 Tune (fake player)",
         "Quorvel: 127.0.0.1:3131 \u00B7 no client connected\nBand \u2013 Tune");
  // The event log is shown folded, as it changes.
  log.ListAdd("Closed");
  log.ListAdd("Closed");
  auto* events = Get<QListWidget>("eventList");
  ASSERT_EQ(events->count(), 1);
  EXPECT_EQ(events->item(0)->text(), "2 x Closed");
  Get<QPushButton>("clearEventsButton")->click();
  EXPECT_EQ(events->count() + log.LineCount(), 0);
  // A relay event shows the clients at once; a login reply the screen name and the caption.
  clients = 2;
  window->RelayEventSeen(1, "Connecting: 192.0.2.7");
  screenName = "Some Body";
  title(" [ Some Body ] - Quorvel");
  EXPECT_EQ(window->windowTitle(), " [ Some Body ] - Quorvel");
  EXPECT_THAT(Shown("listenerStatus"),
              HasSubstr("2 clients connected \u00B7 signed on as Some Body"));
  // Without an event the status catches up within its tick.
  clients = 1;
  EXPECT_TRUE(QTest::qWaitFor(
      [this] { return Shown("listenerStatus").find("1 client connected") != std::string::npos; },
      5000));
  // The player tells of its changes. Names from outside are never read as markup.
  player.playing.playStatus = kPlayPaused;
  player.playing.track->song = "<b>Tune</b>";
  window->PlayerChanged();
  EXPECT_EQ(Shown("playerStatus"), "Now playing: Band \u2013 <b>Tune</b> (paused) (fake player)");
  EXPECT_EQ(Get<QLabel>("playerStatus")->textFormat(), Qt::PlainText);
  EXPECT_THAT(Tray()->toolTip().toStdString(), HasSubstr("\u2039b\u203ATune\u2039/b\u203A"));
  player.playing = PlayerSnapshot{};
  window->PlayerChanged();
  expect("Listening on 127.0.0.1:3131 \u00B7 1 client connected \u00B7 signed on as Some Body",
         "Nothing playing: no media player found (fake player)",
         "Quorvel: 127.0.0.1:3131 \u00B7 1 client connected\nNothing playing");

  // Closing twice saves once, while the icon is still there; then the icon and the listener go.
  journal.clear();
  int shutdowns = 0;
  QObject::connect(window.get(), &MainWindow::shutDown, [&] { ++shutdowns; });
  for (int i = 0; i < 2; ++i) window->close();
  window->Shutdown();
  EXPECT_THAT(journal, ElementsAre("Save (tray shown)", "Stop"));
  EXPECT_FALSE(Tray()->isVisible() || Timer()->isActive());
  EXPECT_EQ(shutdowns, 1);
}

// Every setting of the table goes through its control both ways: a value other than the default
// is loaded, shown (with its reactions) and saved as loaded.
TEST_F(WindowTest, StoredValuesGoThroughTheControlsAndEditsReachCompositionAtOnce) {
  const auto other = [](const Setting& row) -> Bytes {
    const std::string_view d = row.defaultText;
    if (row.kind == SettingKind::kBlock) return "line one\r\nline <two>\r\n\r\nlast";
    if (d == "True" || d == "False") return d == "True" ? "False" : "True";
    if (d == "0" || d == "1") return d == "0" ? "1" : "0";  // check boxes, lengths, cases
    if (row.kind == SettingKind::kSpin || row.kind == SettingKind::kPort) return "31767";
    return row.kind == SettingKind::kBind ? "0.0.0.0" : "[" + std::string(row.key) + "]";
  };
  Preferences p;
  for (const Setting& row : SettingTable())
    EXPECT_EQ(ApplySettingText(p, row, other(row)), std::nullopt) << row.key;
  file = p;
  journal.clear();
  Restart([](MainWindow& w) { w.ListenForThisRunOn(4567); });
  ExpectSame(window->Settings(), p);
  EXPECT_THAT(journal, ElementsAre("Reset", "Listen 4567"));
  // Loading is no change of port; listening beyond this machine is warned of everywhere.
  const std::string warning = "Warning: listening on 0.0.0.0:4567, not only on this machine";
  EXPECT_THAT(log.Lines(), ElementsAre(HasSubstr(warning)));
  EXPECT_THAT(Shown("listenerStatus"), HasSubstr(warning));
  EXPECT_THAT(Shown("listenerStatus"), HasSubstr("(--port, for this run only)"));
  EXPECT_THAT(Tray()->toolTip().toStdString(), HasSubstr("(open to other machines)"));
  EXPECT_FALSE(Box("profileStatsBox")->isEnabled() || Tray()->isVisible());
  EXPECT_EQ(Get<QPlainTextEdit>("blockEdit")->toPlainText(), "line one\nline <two>\n\nlast");
  journal.clear();
  window->Shutdown();
  ExpectSame(*saved, p);  // the stored port too
  EXPECT_THAT(journal, ElementsAre("Save (no tray)", "Stop"));

  // Every kind of control stores an edit at once, where composition reads it.
  file.reset();
  SetUp();
  const PreferencesSettings settings(window->Settings());
  QTest::keyClicks(Edit("songTokenEdit"), "!");
  Combo("artistCaseCombo")->setCurrentIndex(kCaseUpper);
  Box("bufferBox")->setChecked(true);
  Edit("artistPadEdit")->setText(QStringLiteral(" "));  // a blank pad is a pad, not an empty box
  Get<QPlainTextEdit>("blockEdit")->setPlainText("one\ntwo");
  Get<QRadioButton>("blockAwayRadio")->setChecked(true);
  QLineEdit* typed = Combo("songCaseCombo")->lineEdit();
  typed->selectAll();
  QTest::keyClicks(typed, "upper");  // kept as typed, though "UPPER" is an item: chooses none
  QTest::keyClick(typed, Qt::Key_Return);
  EXPECT_EQ(typed->text(), "upper");
  EXPECT_EQ(settings.Field(MediaField::kSong).token, "%s!");
  EXPECT_EQ(settings.Field(MediaField::kArtist).caseMode, kCaseUpper);
  EXPECT_EQ(settings.Field(MediaField::kArtist).padText, " ");
  EXPECT_TRUE(settings.BufferOn() && settings.AwayUsesBlock());
  EXPECT_EQ(settings.Block(), "one\r\ntwo");
  EXPECT_EQ(window->Settings().Field(MediaField::kSong).caseIndex, -1);
}

TEST_F(WindowTest, LaunchFileStartsExecutablesOpensOtherFilesAndStartLaunchesOnlyWhenAsked) {
  QTemporaryDir dir;
  UrlRecorder files("file"), web("https");
  EXPECT_TRUE(LaunchFile("https://example.org/im"));
  EXPECT_THAT(web.opened, ElementsAre(QUrl("https://example.org/im")));
  for (const char* name : {"", " ", "/no/such/client", "no-such-client"})
    EXPECT_FALSE(LaunchFile(name)) << name;
  // At start, only when asked; a file that is not executable is opened, and failures pass.
  const QString client = dir.filePath("client.sh");
  std::ofstream(client.toStdString()) << "#!/bin/sh\necho > started\n";
  for (const auto& [on, path] : {std::pair{0, client}, {1, QString()}, {1, client}}) {
    file = Preferences();
    file->launchAtStart = on;
    file->launchPath = path.toStdString();
    SetUp();
  }
  EXPECT_THAT(files.opened, ElementsAre(QUrl::fromLocalFile(client)));
  // An executable is started, in the given folder.
  ASSERT_TRUE(QFile::setPermissions(client, QFile::permissions(client) | QFileDevice::ExeOwner));
  EXPECT_TRUE(LaunchFile(client, dir.path()));
  EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(dir.filePath("started")); }, 10000));
}

TEST_F(WindowTest, PlayerBoxListsThePlayersPresentAndTheChoiceCountsAtOnce) {
  const auto present = [this](std::initializer_list<const char*> names) {
    player.present.players.clear();
    for (const char* name : names) {
      player.present.players.emplace_back().busName = std::string("org.mpris.MediaPlayer2.") + name;
      player.present.players.back().state.found = true;
    }
  };
  // Stored: a player that is not there now. Each player is listed once, by the name its
  // instances share.
  present({"vlc.instance7", "spotify", "vlc.instance9"});
  file = Preferences();
  file->player = "mpv";
  SetUp();
  QComboBox* box = Combo("playerCombo");
  EXPECT_EQ(box->count(), 3);
  EXPECT_EQ(box->itemText(2), "vlc");
  EXPECT_EQ(box->currentText(), "mpv");
  EXPECT_EQ(player.choice.preferred, "mpv");
  // Chosen from the list, set back to automatic: the player is told each time. Players come and
  // go: the list follows, the choice stays, even when its player has left.
  box->setCurrentIndex(2);
  EXPECT_EQ(player.choice.preferred, "vlc");
  present({"mpv"});
  player.watch.playersChanged();
  EXPECT_EQ(box->itemText(box->count() - 1), "mpv");
  EXPECT_EQ(box->currentText(), "vlc");
  box->setCurrentIndex(0);
  EXPECT_EQ(player.choice.preferred, "");
  Edit("ignorePlayersEdit")->setText(" firefox ,kdeconnect");
  EXPECT_EQ(player.choice.ignored, (std::vector<std::string>{"firefox", "kdeconnect"}));
  follow.reset();  // stops the watch
  EXPECT_FALSE(player.watch.playersChanged || player.watch.playbackChanged);
}

TEST_F(WindowTest, AutostartBoxWritesAndRemovesTheEntryAndSaysWhenItCannot) {
  QTemporaryDir config;
  const ScopedEnvironment configHome("XDG_CONFIG_HOME", config.path());
  const QString folder = config.filePath("autostart"),
                entry = folder + "/org.quorvel.Quorvel.desktop";
  // Loading the setting leaves the desktop's folder alone: only the user's click writes there.
  file = Preferences();
  file->autostart = true;
  SetUp();
  EXPECT_FALSE(QDir(folder).exists());
  QCheckBox* box = Box("autostartBox");
  box->click();
  box->click();
  EXPECT_TRUE(window->Settings().autostart && QFile::exists(entry));
  box->click();
  EXPECT_FALSE(window->Settings().autostart || QFile::exists(entry));
  // The folder cannot be made: the box goes back and the user is told why.
  ASSERT_TRUE(QDir(folder).removeRecursively());
  QFile blocker(folder);
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  box->click();
  EXPECT_FALSE(box->isChecked() || window->Settings().autostart);
  auto* message = window->findChild<QMessageBox*>("autostartError");
  ASSERT_NE(message, nullptr);
  EXPECT_TRUE(message->text().startsWith("Cannot create the folder"));
  message->close();
}

}  // namespace
}  // namespace quorvel::testing
