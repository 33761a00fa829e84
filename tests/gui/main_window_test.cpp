// The main window's reactions, status, tray menu, settings, starting and shutting down, driven as
// a user and the program drive them; and its layout: every page is rendered to a PNG in
// QUORVEL_SCREENSHOT_DIR (the build folder unless set; docs/screenshots holds a committed copy) and
// checked: every control inside its page, drawn, apart from the others, its caption fitting, and
// the two warnings (and no other label) red. The window is driven with stand-ins for the relay, the
// monitor, the settings file and the media player, which note what they are told in one journal, so
// that the order of the steps shows.

#include "gui/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "gui/launch_file.h"
#include "gui/window_front_end.h"
#include "media/fake_media.h"
#include "session/player_change_updates.h"
#include "settings/preferences_settings.h"
#include "settings/settings_table.h"
#include "settings/test_files.h"

namespace quorvel::testing {
namespace {

// Takes the place of the desktop's programs for one URL scheme and records what they were given.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  explicit UrlRecorder(const char* s) : scheme(QString::fromLatin1(s)) {
    QDesktopServices::setUrlHandler(scheme, this, "Open");
  }
  ~UrlRecorder() override { QDesktopServices::unsetUrlHandler(scheme); }
  const QString scheme;
  QList<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened.push_back(url); }
};

// The media player: answers with `playing`, lists `present`, keeps the choice and the watch.
struct StatusPlayer : FakePlayer {
  PlayerSnapshot Query() override { return playing; }
  std::string Describe() const override { return description; }
  PlayerSnapshot playing{true, Track{"Band", "Tune"}, kPlayPlaying, 1000, 200};
  std::string description = "fake player";
};

struct WindowTest : ::testing::Test, RelayControl, MonitorPort, SettingsFile {
  void SetUp() override { Restart(); }
  // Builds a fresh window and starts it with `file`; `beforeStart` runs just before the start.
  void Restart(const std::function<void(MainWindow&)>& beforeStart = {}) {
    journal.clear();
    follow.reset();
    window.reset();
    window = std::make_unique<MainWindow>(log);
    window->SetTrayAvailability([this] { return trayAvailable; });
    window->Attach(*this, *this, *this);
    window->AttachPlayer(player);
    follow = FollowPlayer(*window, player);
    if (beforeStart) beforeStart(*window);
    window->Start();
  }

  // The relay: a start on `refusedPort` fails as a port in use does.
  void StartListening(std::uint16_t p) override {
    journal.push_back("Listen " + std::to_string(p));
    listening = p == refusedPort ? 0 : p;
    if (!listening) window->RelayEventSeen(0, "Start Listen Failure: The bound address is in use");
  }
  void StopListening() override {
    journal.push_back("Stop");
    listening = 0;
  }
  bool IsClientConnected(SlotIndex index) const override { return index == connectedSlot; }
  ConnectionId ClientConnection(SlotIndex) const override { return 0; }
  std::uint16_t ListeningPort() const override { return listening; }
  int ClientCount() const override { return clients; }
  void SendBytes(Toward, SlotIndex, BytesView) override {}
  void SendFrame(Toward, SlotIndex, Bytes&) override {}
  // The monitor.
  void ResetForStartUp() override { journal.push_back("Reset"); }
  SlotIndex ActiveSlot() const override { return activeSlot; }
  void RunTimedUpdates() override { ++ticks; }
  void SetTitleListener(std::function<void(const std::string&)> f) override { title = f; }
  std::string ScreenName() const override { return screenName; }
  // The settings file.
  std::optional<Preferences> Load() override { return file; }
  bool Save(const Preferences& prefs) override {
    journal.push_back(Tray()->isVisible() ? "Save (tray shown)" : "Save (no tray)");
    saved = prefs;
    return true;
  }
  QString Location() const override { return QStringLiteral("/home/me/.config/quorvel/prefs.ini"); }

  template <class W = QWidget>
  W* Get(const char* name) {
    W* widget = window->findChild<W*>(QLatin1String(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QLineEdit* Edit(const char* name) { return Get<QLineEdit>(name); }
  QCheckBox* Box(const char* name) { return Get<QCheckBox>(name); }
  QTimer* Timer() { return Get<QTimer>("updateTimer"); }
  QSystemTrayIcon* Tray() { return Get<QSystemTrayIcon>("trayIcon"); }
  std::string Shown(const char* label) { return Get<QLabel>(label)->text().toStdString(); }
  QAction* TrayAction(const char* name) { return Tray()->contextMenu()->findChild<QAction*>(name); }
  // The steps noted since the last look.
  std::vector<std::string> Steps() { return std::exchange(journal, {}); }
  // Puts `text` into the port box and presses Enter.
  void TypePort(const QString& text) {
    Edit("portEdit")->setText(text);
    QTest::keyClick(Edit("portEdit"), Qt::Key_Return);
  }

  std::vector<std::string> journal;
  std::uint16_t listening = 0, refusedPort = 0;
  int clients = 0, ticks = 0;
  std::string screenName = "[ Not Logged On ]";
  SlotIndex activeSlot = 0, connectedSlot = -1;  // no client connected
  std::function<void(const std::string&)> title;
  std::optional<Preferences> file, saved;
  bool trayAvailable = true;
  StatusPlayer player;
  EventLog log;
  std::unique_ptr<MainWindow> window;           // destroyed before the log: it observes the log
  std::unique_ptr<PlayerChangeUpdates> follow;  // destroyed first: it calls the window
};

using ::testing::ElementsAre, ::testing::HasSubstr;

TEST_F(WindowTest, PortBoxRestartsTheListenerOnceEditingFinishesUnlessTheClientIsConnected) {
  QLineEdit* port = Edit("portEdit");
  port->setText("4000");  // typing alone restarts nothing: only the start's steps so far
  EXPECT_THAT(Steps(), ElementsAre("Reset", "Listen 3131"));
  QTest::keyClick(port, Qt::Key_Return);
  QTest::keyClick(port, Qt::Key_Return);  // the same port again: nothing to do
  EXPECT_THAT(Steps(), ElementsAre("Stop", "Listen 4000"));
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Port Changed"));
  // Text that is no port is refused as it is typed; an emptied box becomes 1100.
  for (const char* text : {"abc", "0", "65536", "-1", " 80", "40 0"})
    EXPECT_EQ((port->setText(text), port->text()), "4000") << text;
  TypePort("");
  connectedSlot = 0;  // while the client is connected a new port waits for the next start
  TypePort("4001");
  EXPECT_EQ(window->Settings().port, "4001");
  EXPECT_THAT(Steps(), ElementsAre("Stop", "Listen 1100"));
  // A port that could not be listened on: why, what to do, and tried again on Enter.
  connectedSlot = -1;
  refusedPort = 4002;
  TypePort("4002");
  EXPECT_EQ(Shown("listenerStatus"),
            "Not listening on 127.0.0.1:4002: The bound address is in use. Type another port "
            "under Preferences and press Enter");
  EXPECT_EQ(Tray()->toolTip().toStdString(),
            "Quorvel: not listening on 127.0.0.1:4002\nBand \u2013 Tune");
  refusedPort = 0;
  QTest::keyClick(port, Qt::Key_Return);
  EXPECT_THAT(Steps(), ElementsAre("Stop", "Listen 4002", "Stop", "Listen 4002"));
  // Closing while a restart runs (between stopping and starting): the listener stays stopped.
  QMetaObject::invokeMethod(window.get(), &QWidget::close, Qt::QueuedConnection);
  TypePort("4003");
  EXPECT_THAT(Steps(), ElementsAre("Stop", "Save (tray shown)", "Stop"));
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
    // An update asked for by the player runs only while the timer does.
    const int before = ticks;
    window->RunUpdatesNow();
    EXPECT_EQ(ticks - before, ms > 0 ? 1 : 0);
  }
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
  // The away options come back with the enable switch only while the away switch is on.
  Box("awayStatsBox")->setChecked(false);
  Box("enableBox")->setChecked(true);
  EXPECT_TRUE(TrayAction("enableAction")->isChecked());
  EXPECT_FALSE(Get("ownAwayRadio")->isEnabled() || Get("blockAwayRadio")->isEnabled());
  Box("awayStatsBox")->setChecked(true);
  EXPECT_TRUE(Get("ownAwayRadio")->isEnabled() && Get("blockAwayRadio")->isEnabled());
}

// Every setting reads the same from both.
void ExpectSame(const Preferences& a, const Preferences& b) {
  for (const Setting& setting : SettingTable())
    EXPECT_EQ(SettingText(a, setting), SettingText(b, setting)) << setting.key;
}

TEST_F(WindowTest, StartingWithoutAFileShowsTheStatusAsItChangesAndClosingSavesOnce) {
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

  // Quitting from the tray menu saves, while the icon is still there; then the icon and the
  // listener go. Closing again does nothing more.
  TrayAction("quitAction")->trigger();
  EXPECT_THAT(Steps(), ElementsAre("Reset", "Listen 3131", "Save (tray shown)", "Stop"));
  window->close();
  window->Shutdown();
  EXPECT_THAT(Steps(), ElementsAre());
  EXPECT_FALSE(Tray()->isVisible() || Timer()->isActive());
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
    return row.kind == SettingKind::kBind ? "::" : "[" + std::string(row.key) + "]";
  };
  Preferences p;
  for (const Setting& row : SettingTable())
    EXPECT_EQ(ApplySettingText(p, row, other(row)), std::nullopt) << row.key;
  file = p;
  Restart([](MainWindow& w) { w.ListenForThisRunOn(4567); });
  ExpectSame(window->Settings(), p);  // a stored player that is not there now too
  EXPECT_EQ(player.choice.preferred, "[player]");
  EXPECT_THAT(Steps(), ElementsAre("Reset", "Listen 4567"));
  // Loading is no change of port; listening beyond this machine is warned of everywhere.
  const std::string warning = "Warning: listening on [::]:4567, not only on this machine";
  EXPECT_THAT(log.Lines(), ElementsAre(HasSubstr(warning)));
  EXPECT_THAT(
      Shown("listenerStatus"),
      HasSubstr(warning + ": other machines can use this proxy (--port, for this run only)"));
  EXPECT_THAT(Tray()->toolTip().toStdString(), HasSubstr("(open to other machines)"));
  EXPECT_FALSE(Box("profileStatsBox")->isEnabled() || Tray()->isVisible());
  EXPECT_EQ(Get<QPlainTextEdit>("blockEdit")->toPlainText(), "line one\nline <two>\n\nlast");
  window->Shutdown();
  ExpectSame(*saved, p);  // the stored port too
  EXPECT_THAT(Steps(), ElementsAre("Save (no tray)", "Stop"));

  // Every kind of control stores an edit at once, where composition reads it.
  file.reset();
  SetUp();
  const PreferencesSettings settings(window->Settings());
  QTest::keyClicks(Edit("songTokenEdit"), "!");
  Get<QComboBox>("artistCaseCombo")->setCurrentIndex(kCaseUpper);
  Box("bufferBox")->setChecked(true);
  Edit("artistPadEdit")->setText(QStringLiteral(" "));  // a blank pad is a pad, not an empty box
  Get<QPlainTextEdit>("blockEdit")->setPlainText("one\ntwo");
  Get<QRadioButton>("blockAwayRadio")->setChecked(true);
  QLineEdit* typed = Get<QComboBox>("songCaseCombo")->lineEdit();
  typed->selectAll();
  QTest::keyClicks(typed, "upper");  // kept as typed, though "UPPER" is an item: chooses none
  QTest::keyClick(typed, Qt::Key_Return);
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
  ASSERT_TRUE(WriteBytes(client, "#!/bin/sh\necho > started\n"));
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
  const auto present = [this](std::initializer_list<std::string> names) {
    player.present.players.clear();
    for (const auto& name : names)
      player.present.players.emplace_back().busName = "org.mpris.MediaPlayer2." + name;
  };
  // Each player is listed once, by the name its instances share.
  present({"vlc.instance7", "spotify", "vlc.instance9"});
  window->ListPlayersPresent();
  QComboBox* box = Get<QComboBox>("playerCombo");
  EXPECT_EQ(box->count(), 3);
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
  QCheckBox* box = Box("autostartBox");
  box->click();  // off: an entry already gone counts as removed
  EXPECT_FALSE(QDir(folder).exists() || window->Settings().autostart);
  // The folder cannot be made: the box goes back and the user is told why.
  QFile blocker(folder);
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  box->click();
  EXPECT_FALSE(box->isChecked() || window->Settings().autostart);
  auto* message = window->findChild<QMessageBox*>("autostartError");
  ASSERT_NE(message, nullptr);
  EXPECT_TRUE(message->text().startsWith("Cannot create the folder"));
  ASSERT_TRUE(blocker.remove());
  box->click();
  EXPECT_TRUE(window->Settings().autostart && QFile::exists(entry));
  box->click();
  EXPECT_FALSE(window->Settings().autostart || QFile::exists(entry));
}

// True when some pixel inside `area` passes `test`.
bool AnyPixel(const QImage& image, const QRect& area, const std::function<bool(QRgb)>& test) {
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (test(image.pixel(x, y))) return true;
  return false;
}

TEST_F(WindowTest, EveryPageRendersWithItsControlsInsideAndApartAndTheEventListGrows) {
  // What the pictures show: two events, a listener on 3131 with one client, a player playing.
  log.ListAdd("Socket (1): Local Socket Closed");
  log.ListAdd("Port Changed");
  clients = 1;
  player.playing = {true, Track{"Artist", "Song"}, kPlayPlaying, 61000, 200};
  player.description = "MPRIS: vlc (org.mpris.MediaPlayer2.vlc)";
  window->PlayerChanged();
  window->show();
  EXPECT_EQ(window->minimumSize(), window->size());  // it never gets smaller than drawn
  EXPECT_FALSE(window->windowIcon().pixmap(32, 32).isNull() ||
               Tray()->icon().pixmap(32, 32).isNull());
  const QDir dir(qEnvironmentVariable("QUORVEL_SCREENSHOT_DIR", QUORVEL_SCREENSHOT_DIR));
  ASSERT_TRUE(dir.mkpath(QStringLiteral(".")));
  const char* const pictures[] = {"events", "preferences", "replace", "replaceContinued", "about"};
  auto isRed = [](QRgb p) { return qRed(p) > 180 && qGreen(p) < 90 && qBlue(p) < 90; };
  auto* pages = Get<QListWidget>("pageList");
  ASSERT_EQ(pages->count(), 5);
  for (int i = 0; i < pages->count(); ++i) {
    SCOPED_TRACE(pictures[i]);
    pages->setCurrentRow(i);
    QWidget* page = Get(qPrintable(QStringLiteral("%1Page").arg(pictures[i])));
    ASSERT_TRUE(page->isVisible());
    const QRect placed(page->mapTo(window.get(), QPoint()), page->size());
    EXPECT_TRUE(window->rect().contains(placed) && !placed.intersects(pages->geometry()));
    EXPECT_TRUE(window->grab().save(
        dir.filePath("window-" + QString(pictures[i]).replace("C", "-c") + ".png")));
    const QImage image = page->grab().toImage();
    const auto controls = page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const QWidget* control : controls) {
      const std::string name = control->objectName().toStdString();
      const QRect area = control->geometry();
      EXPECT_TRUE(control->isVisible() && page->rect().contains(area)) << name;
      EXPECT_TRUE(AnyPixel(image, area, [&](QRgb p) { return p != image.pixel(area.topLeft()); }))
          << name << " is not drawn";
      for (const QWidget* other : controls)
        EXPECT_TRUE(other == control || !area.intersects(other->geometry()))
            << name << " overlaps " << qPrintable(other->objectName());
      // Captions fit their places (push buttons centre theirs and are left out).
      const bool captioned = QStringList{"QLabel", "QCheckBox", "QRadioButton"}.contains(
          control->metaObject()->className());
      EXPECT_TRUE(!captioned || control->sizeHint().width() <= control->width()) << name;
      const bool warning = name == "rateLimitWarning" || name == "blockHint";
      EXPECT_EQ(control->inherits("QLabel") && AnyPixel(image, area, isRed), warning) << name;
    }
  }
  // A larger window gives the room to the event list.
  pages->setCurrentRow(0);
  const QSize events = Get("eventList")->size();
  window->resize(window->size() + QSize(300, 200));
  QCoreApplication::processEvents();
  EXPECT_EQ(Get("eventList")->size(), events + QSize(300, 200));
}

}  // namespace
}  // namespace quorvel::testing

#include "main_window_test.moc"

// Runs the window tests inside one QApplication, on the offscreen platform unless another is set.
int main(int argc, char* argv[]) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The offscreen platform has no notification area; Qt's tray icon says so on every use.
  qputenv("QT_LOGGING_RULES", "qt.core.qobject.connect=false");
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
