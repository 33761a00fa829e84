// The main window's reactions, loading and closing, driven as a user and the program drive them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/form1.h"
#include "app/prefs_keys.h"
#include "app/url_recorder.h"
#include "app/window_fakes.h"

namespace quorvel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class WindowTest : public ::testing::Test {
 protected:
  // Builds a fresh window (tests call it again to start over).
  void SetUp() override {
    form.reset();
    form = std::make_unique<Form1>(log);
    form->SetTrayAvailability([this] { return trayAvailable; });
    form->Bind(proxy, monitorPort, store);
    store.tray = form->findChild<QSystemTrayIcon*>(QStringLiteral("SysTray"));
  }

  // Loads with the given settings file (or none) and forgets what loading did.
  void Load(std::optional<Preferences> file = std::nullopt) {
    store.file = std::move(file);
    form->FormLoad();
    journal.clear();
  }

  template <class Widget>
  Widget* Get(const QString& name) {
    auto* widget = form->findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name.toStdString();
    return widget;
  }
  QLineEdit* PrefsText(int i) { return Get<QLineEdit>(QStringLiteral("prefsText_%1").arg(i)); }
  QLineEdit* RepText(int i) { return Get<QLineEdit>(QStringLiteral("repText_%1").arg(i)); }
  QCheckBox* PrefsChk(int i) { return Get<QCheckBox>(QStringLiteral("prefsChk_%1").arg(i)); }
  QRadioButton* PrefsRad(int i) { return Get<QRadioButton>(QStringLiteral("prefsRad_%1").arg(i)); }
  QScrollBar* Spin() { return Get<QScrollBar>(QStringLiteral("prefsScroll")); }
  QTimer* Timer() { return Get<QTimer>(QStringLiteral("checkTimer")); }
  QSystemTrayIcon* Tray() { return Get<QSystemTrayIcon>(QStringLiteral("SysTray")); }

  Journal journal;
  RecordingProxy proxy{journal};
  MonitorDouble monitor{journal};
  MonitorPortFor<MonitorDouble> monitorPort{monitor};
  MemorySettings store{journal};
  EventLog log;
  bool trayAvailable = true;
  std::unique_ptr<Form1> form;  // destroyed first: it observes the log
};

// ---------------------------------------------------------------------------------------------
// The port box

TEST_F(WindowTest, EveryPortTextRestartsTheListenerWhileNoClientIsConnected) {
  Load();
  QLineEdit* port = PrefsText(0);
  port->setFocus();
  port->end(false);
  QTest::keyClick(port, Qt::Key_Backspace);  // "313"
  QTest::keyClick(port, Qt::Key_2);          // "3132"

  EXPECT_EQ(port->text(), "3132");
  EXPECT_THAT(journal,
              ElementsAre("StopListen", "StartListen 313", "StopListen", "StartListen 3132"));
  EXPECT_THAT(log.Lines(), ElementsAre("2 x Port Changed"));
}

TEST_F(WindowTest, EmptyingThePortBoxListensOn1100) {
  Load();
  PrefsText(0)->clear();

  EXPECT_EQ(PrefsText(0)->text(), "1100");
  // The nested change restarts on 1100 first; the outer one then restarts again.
  EXPECT_THAT(journal,
              ElementsAre("StopListen", "StartListen 1100", "StopListen", "StartListen 1100"));
  EXPECT_THAT(log.Lines(), ElementsAre("2 x Port Changed"));
}

TEST_F(WindowTest, APortChangeWaitsForTheNextStartWhileTheClientIsConnected) {
  Load();
  monitor.activeSlot = 2;
  proxy.connected = {2};
  PrefsText(0)->setText(QStringLiteral("4000"));
  PrefsText(0)->clear();

  EXPECT_EQ(PrefsText(0)->text(), "");  // kept as typed, for the next start
  EXPECT_THAT(journal, IsEmpty());
  EXPECT_THAT(log.Lines(), IsEmpty());

  form->FormUnload();
  ASSERT_TRUE(store.saved);
  EXPECT_EQ(store.saved->port, "");
}

TEST_F(WindowTest, APortChangeGoesThroughWhenTheActiveSlotIsGone) {
  Load();
  monitor.activeSlot = 3;  // an earlier restart closed it
  proxy.connected = {1};
  PrefsText(0)->setText(QStringLiteral("4000"));
  EXPECT_THAT(journal, ElementsAre("StopListen", "StartListen 4000"));
}

TEST_F(WindowTest, TextThatIsNotAPortIsRefusedAndThePreviousPortKept) {
  Load();
  PrefsText(0)->setText(QStringLiteral("4000"));
  journal.clear();
  for (const char* text : {"abc", "0", "65536", "-1", " 80", "99999999999", "40 0"}) {
    SCOPED_TRACE(text);
    PrefsText(0)->setText(QString::fromLatin1(text));
    EXPECT_EQ(PrefsText(0)->text(), "4000");
  }
  EXPECT_THAT(journal, IsEmpty());
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Port Changed"));

  // A typed letter is dropped where it was typed.
  QLineEdit* port = PrefsText(0);
  port->setFocus();
  port->setCursorPosition(2);
  QTest::keyClick(port, Qt::Key_X);
  EXPECT_EQ(port->text(), "4000");
  EXPECT_EQ(port->cursorPosition(), 2);

  // Ports above 32767 are ports like any other.
  PrefsText(0)->setText(QStringLiteral("65535"));
  EXPECT_THAT(journal, ElementsAre("StopListen", "StartListen 65535"));
}

TEST_F(WindowTest, TextThatIsNotAPortIsRefusedWhileTheClientIsConnectedToo) {
  Load();
  monitor.activeSlot = 1;
  proxy.connected = {1};
  PrefsText(0)->setText(QStringLiteral("5000"));
  PrefsText(0)->setText(QStringLiteral("5000x"));
  EXPECT_EQ(PrefsText(0)->text(), "5000");
  EXPECT_THAT(journal, IsEmpty());
}

TEST_F(WindowTest, ClosingWhilePendingEventsRunLeavesTheListenerStopped) {
  Load();
  form->show();
  QMetaObject::invokeMethod(form.get(), &QWidget::close, Qt::QueuedConnection);
  PrefsText(0)->setText(QStringLiteral("4000"));

  // The close ran between stopping and restarting: the listener must not come back.
  EXPECT_THAT(journal, ElementsAre("StopListen", "Save (tray shown)", "StopListen"));
  ASSERT_TRUE(store.saved);
  EXPECT_EQ(store.saved->port, "4000");
}

// ---------------------------------------------------------------------------------------------
// The update interval and its spin control

TEST_F(WindowTest, IntervalBoxChecksItsNumberAndSetsSpinAndTimer) {
  struct Case {
    const char* typed;
    const char* shown;
    int spin;
    int interval;  // 0: the timer is stopped
  };
  const Case cases[] = {
      {"", "3000", 29767, 3000},       // an empty box means 3000
      {"1234", "1234", 31533, 1234},   // accepted
      {"32767", "32767", 0, 32767},    // the largest interval
      {"40000", "5000", 27767, 5000},  // out of range: back to the spin's interval
      {"abc", "5000", 27767, 5000},    // not a number: likewise
      {"-5", "5000", 27767, 5000},    {"0", "0", 32767, 0},  // accepted, and the updates stop
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    SetUp();
    Load();
    PrefsText(1)->setText(QString::fromLatin1(c.typed));
    EXPECT_EQ(PrefsText(1)->text(), c.shown);
    EXPECT_EQ(Spin()->value(), c.spin);
    EXPECT_EQ(Timer()->isActive(), c.interval > 0);
    if (c.interval > 0) {
      EXPECT_EQ(Timer()->interval(), c.interval);
    }
  }
}

TEST_F(WindowTest, SpinControlAndIntervalBoxStayTied) {
  Load();
  Spin()->setValue(30767);
  EXPECT_EQ(PrefsText(1)->text(), "2000");
  EXPECT_EQ(Timer()->interval(), 2000);

  // The up arrow lowers the position and so raises the interval, 10 ms a click.
  Spin()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(PrefsText(1)->text(), "2010");
  EXPECT_EQ(Timer()->interval(), 2010);

  Spin()->setValue(kSpinMax);
  EXPECT_EQ(PrefsText(1)->text(), "0");
  EXPECT_FALSE(Timer()->isActive());

  Spin()->setValue(kSpinMax - 10);
  EXPECT_TRUE(Timer()->isActive());
  EXPECT_EQ(Timer()->interval(), 10);
}

TEST_F(WindowTest, TimerTicksReachTheMonitor) {
  Load();
  PrefsText(1)->setText(QStringLiteral("5"));
  QTest::qWait(100);
  EXPECT_GT(monitor.ticks, 0);
}

// ---------------------------------------------------------------------------------------------
// The enable switch and the away options

TEST_F(WindowTest, EnableSwitchGovernsItsDependants) {
  Load();
  const QStringList dependants = {"prefsChk_1",   "prefsChk_2",   "prefsRad_0",
                                  "prefsRad_1",   "prefsLabel_1", "prefsLabel_2",
                                  "prefsLabel_3", "prefsText_1",  "prefsScroll"};
  const QStringList independent = {"prefsChk_3",  "prefsChk_4",  "prefsText_0",
                                   "prefsText_2", "prefsButton", "prefsLabel_0"};
  auto enabled = [this](const QString& name) { return Get<QWidget>(name)->isEnabled(); };

  PrefsChk(0)->setChecked(false);
  for (const QString& name : dependants) EXPECT_FALSE(enabled(name)) << name.toStdString();
  for (const QString& name : independent) EXPECT_TRUE(enabled(name)) << name.toStdString();

  PrefsChk(0)->setChecked(true);
  for (const QString& name : dependants) EXPECT_TRUE(enabled(name)) << name.toStdString();

  // A greyed switch counts as on.
  PrefsChk(0)->setCheckState(Qt::PartiallyChecked);
  for (const QString& name : dependants) EXPECT_TRUE(enabled(name)) << name.toStdString();
}

TEST_F(WindowTest, AwayOptionsFollowTheAwaySwitchAndComeBackOnlyWithIt) {
  Load();
  PrefsChk(2)->setChecked(false);
  EXPECT_FALSE(PrefsRad(0)->isEnabled());
  EXPECT_FALSE(PrefsRad(1)->isEnabled());

  PrefsChk(0)->setChecked(false);
  PrefsChk(0)->setChecked(true);
  EXPECT_FALSE(PrefsRad(0)->isEnabled());  // the away switch is still off
  EXPECT_FALSE(PrefsRad(1)->isEnabled());

  PrefsChk(2)->setChecked(true);
  EXPECT_TRUE(PrefsRad(0)->isEnabled());
  EXPECT_TRUE(PrefsRad(1)->isEnabled());

  PrefsChk(0)->setChecked(false);
  PrefsChk(0)->setChecked(true);
  EXPECT_TRUE(PrefsRad(0)->isEnabled());
  EXPECT_TRUE(PrefsRad(1)->isEnabled());
}

// ---------------------------------------------------------------------------------------------
// The length boxes' key filter

TEST_F(WindowTest, LengthBoxesTakeDigitsOnly) {
  Load();
  for (int i = 5; i <= 9; ++i) {
    SCOPED_TRACE(i);
    QLineEdit* length = RepText(i);
    length->setFocus();
    length->end(false);
    QTest::keyClick(length, Qt::Key_Backspace);  // one character: backspace does nothing
    QTest::keyClicks(length, QStringLiteral("a-. "));
    EXPECT_EQ(length->text(), "0");

    length->home(false);
    QTest::keyClick(length, Qt::Key_7);  // a digit goes in at the cursor
    EXPECT_EQ(length->text(), "70");
    QTest::keyClick(length, Qt::Key_Backspace);  // two characters: backspace works
    EXPECT_EQ(length->text(), "0");

    // Keys without a character pass: Delete may empty the box.
    QTest::keyClick(length, Qt::Key_Delete);
    EXPECT_EQ(length->text(), "");
    QTest::keyClicks(length, QStringLiteral("12"));
    QTest::keyClick(length, Qt::Key_Left);
    QTest::keyClick(length, Qt::Key_3);
    EXPECT_EQ(length->text(), "132");
  }
}

TEST_F(WindowTest, OtherReplaceBoxesTakeAnyKey) {
  Load();
  for (const int i : {0, 4, 10, 14, 15}) {
    SCOPED_TRACE(i);
    QLineEdit* box = RepText(i);
    box->clear();
    QTest::keyClicks(box, QStringLiteral("x-1"));
    QTest::keyClick(box, Qt::Key_Backspace);
    EXPECT_EQ(box->text(), "x-");
  }
}

// ---------------------------------------------------------------------------------------------
// Tray and minimising

TEST_F(WindowTest, MinimisingWithTheTrayBoxHidesUntilTheIconIsClicked) {
  Load();
  form->show();
  EXPECT_TRUE(Tray()->isVisible());

  for (const auto reason :
       {QSystemTrayIcon::Trigger, QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick}) {
    SCOPED_TRACE(reason);
    form->showMinimized();
    QCoreApplication::processEvents();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());  // shown again at its normal size

    emit Tray()->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_FALSE(form->isVisible());
    emit Tray()->activated(reason);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());
  }
}

TEST_F(WindowTest, MinimisingWithoutTheTrayBoxOrANotificationAreaStaysOnTheTaskBar) {
  Load();
  form->show();
  PrefsChk(3)->setChecked(false);
  EXPECT_FALSE(Tray()->isVisible());
  form->showMinimized();
  QCoreApplication::processEvents();
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->isMinimized());

  form->showNormal();
  PrefsChk(3)->setChecked(true);
  EXPECT_TRUE(Tray()->isVisible());
  trayAvailable = false;  // e.g. a desktop without a notification area
  form->showMinimized();
  QCoreApplication::processEvents();
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->isMinimized());
}

// ---------------------------------------------------------------------------------------------
// Loading

Preferences StoredValues() {
  Preferences p;
  p.port = "4000";
  p.minimize = 0;
  p.bind = "127.0.0.2";
  p.act = 0;
  p.profileact = 0;
  p.awayact = 0;
  p.awayprefOwnMessage = false;
  p.launchcheck = 0;
  p.launchpath = "/opt/im/client";
  p.updateT = kSpinMax - 1000;
  p.fields[0] = {"[a]", kCaseUpper, "12", "-", "Left"};
  p.fields[1] = {"[s]", -1, "7", ".", "Right"};
  p.fields[2] = {"", kCaseLower, "", "", "Centre"};  // text that is not an item stays as text
  p.fields[3] = {"[t]", kCaseFirstCap, "3", "*", "Center"};
  p.fields[4] = {"[x]", kCaseNone, "4", "=", "Left"};
  p.limit = 1;
  p.repBufferCheck = 1;
  p.repBufferText = "<var>";
  p.replaceII = "%block";
  p.replaceIIblock = "line one\r\nline <two>\r\n\r\nlast";
  return p;
}

// Every key of the settings file reads the same from both.
void ExpectSame(const Preferences& a, const Preferences& b) {
  for (std::size_t i = 0; i < kPrefKeyCount; ++i) {
    const auto key = static_cast<PrefKey>(i);
    EXPECT_EQ(PrefText(a, key), PrefText(b, key)) << InfoOf(key).name;
  }
}

TEST_F(WindowTest, LoadingWithoutAFileKeepsTheDefaultsAndListens) {
  store.file = std::nullopt;
  form->FormLoad();

  EXPECT_THAT(journal, ElementsAre("ResetForStartUp", "Load", "StartListen 3131"));
  EXPECT_THAT(log.Lines(), IsEmpty());
  ExpectSame(form->ControlValues(), Preferences{});
  EXPECT_EQ(PrefsText(1)->text(), "5000");
  EXPECT_TRUE(Timer()->isActive());
  EXPECT_EQ(Timer()->interval(), 5000);
  EXPECT_TRUE(Tray()->isVisible());
  EXPECT_EQ(form->windowTitle(), " [ Not Signed On ] - Quorvel");
  auto* pages = Get<QListWidget>(QStringLiteral("master_list"));
  EXPECT_EQ(pages->currentItem()->text(), "Events");
  for (int i = 0; i < kPageCount; ++i) {
    EXPECT_EQ(Get<QWidget>(QStringLiteral("Frames_%1").arg(i))->isVisibleTo(form.get()), i == 0);
  }
}

TEST_F(WindowTest, LoadingAppliesEveryStoredValueWithItsReaction) {
  store.file = StoredValues();
  form->FormLoad();

  ExpectSame(form->ControlValues(), StoredValues());
  // The stored port restarted the listener while the settings loaded; then the load listened.
  EXPECT_THAT(journal, ElementsAre("ResetForStartUp", "Load", "StopListen", "StartListen 4000",
                                   "StartListen 4000"));
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Port Changed"));
  // The spin position set the interval box and the timer.
  EXPECT_EQ(PrefsText(1)->text(), "1000");
  EXPECT_EQ(Timer()->interval(), 1000);
  // The enable and away switches ran their reactions.
  EXPECT_FALSE(PrefsChk(1)->isEnabled());
  EXPECT_FALSE(PrefsRad(1)->isEnabled());
  EXPECT_FALSE(Spin()->isEnabled());
  EXPECT_FALSE(Tray()->isVisible());
  EXPECT_TRUE(PrefsRad(1)->isChecked());
  EXPECT_EQ(Get<QComboBox>(QStringLiteral("repFormat_1"))->currentText(), "");
  EXPECT_EQ(Get<QComboBox>(QStringLiteral("repFormat_7"))->currentText(), "Centre");
  EXPECT_EQ(Get<QPlainTextEdit>(QStringLiteral("repIIText_1"))->toPlainText(),
            "line one\nline <two>\n\nlast");
}

TEST_F(WindowTest, AnEmptyStoredPortListensOn1100) {
  Preferences stored;
  stored.port = "";
  store.file = stored;
  form->FormLoad();
  EXPECT_EQ(PrefsText(0)->text(), "1100");
  EXPECT_EQ(journal.back(), "StartListen 1100");
}

TEST_F(WindowTest, LoadingLaunchesTheClientWhenAskedAndGoesOnSilentlyWhenItCannot) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString document = dir.filePath(QStringLiteral("client.txt"));
  QFile file(document);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  UrlRecorder desktop(QStringLiteral("file"));

  Preferences stored;
  stored.launchcheck = 1;
  stored.launchpath = document.toStdString();
  store.file = stored;
  form->FormLoad();
  ASSERT_EQ(desktop.opened.size(), 1);
  EXPECT_EQ(desktop.opened[0].toLocalFile(), document);
  EXPECT_EQ(journal.back(), "StartListen 3131");  // launched after listening

  for (const char* path : {"", "/no/such/client"}) {
    SetUp();
    stored.launchpath = path;
    store.file = stored;
    form->FormLoad();
    EXPECT_EQ(desktop.opened.size(), 1) << path;
  }

  SetUp();
  stored.launchcheck = 0;
  stored.launchpath = document.toStdString();
  store.file = stored;
  form->FormLoad();
  EXPECT_EQ(desktop.opened.size(), 1);
}

// ---------------------------------------------------------------------------------------------
// Closing

TEST_F(WindowTest, ClosingSavesBothSectionsRemovesTheIconThenStopsListening) {
  Load();
  form->show();
  int unloadedSignals = 0;
  QObject::connect(form.get(), &Form1::unloaded, [&] { ++unloadedSignals; });
  PrefsText(1)->setText(QStringLiteral("0"));
  auto* caseBox = Get<QComboBox>(QStringLiteral("repFormat_2"));
  caseBox->setEditText(QStringLiteral("Shout"));

  form->close();
  form->close();
  form->FormUnload();

  EXPECT_THAT(journal, ElementsAre("Save (tray shown)", "StopListen"));
  EXPECT_FALSE(Tray()->isVisible());
  EXPECT_EQ(unloadedSignals, 1);
  ASSERT_TRUE(store.saved);
  EXPECT_EQ(store.saved->updateT, kSpinMax);  // an interval of 0
  EXPECT_EQ(store.saved->fields[2].caseIndex, -1);
  EXPECT_FALSE(Timer()->isActive());
}

TEST_F(WindowTest, ClosingKeepsValuesThatHaveNoControl) {
  Load(StoredValues());
  form->FormUnload();
  ASSERT_TRUE(store.saved);
  ExpectSame(*store.saved, StoredValues());
  EXPECT_EQ(store.saved->bind, "127.0.0.2");
  EXPECT_THAT(journal, ElementsAre("Save (no tray)", "StopListen"));
}

TEST_F(WindowTest, SettingsRoundTripThroughPrefsIni) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("prefs.ini"));
  QFile ini(path);
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write(
      "[KAVO]\r\nact=1\r\nawayact=0\r\nawaypref=False\r\nartist=$A\r\nartistF=2\r\n"
      "songJ=Right\r\nreplaceIIblock=one<BR>two\r\nupdateT=30767\r\nnote=kept\r\n"
      "[prefs]\r\nport=4100\r\nminimize=0\r\n");
  ini.close();

  PrefsStore prefsStore(path);
  PrefsStoreFile file(prefsStore);
  SetUp();
  form->Bind(proxy, monitorPort, file);
  form->FormLoad();
  EXPECT_EQ(RepText(0)->text(), "$A");
  EXPECT_EQ(Get<QComboBox>(QStringLiteral("repFormat_0"))->currentIndex(), kCaseFirstCap);
  EXPECT_EQ(Get<QComboBox>(QStringLiteral("repFormat_6"))->currentText(), "Right");
  EXPECT_EQ(Get<QPlainTextEdit>(QStringLiteral("repIIText_1"))->toPlainText(), "one\ntwo");
  EXPECT_EQ(PrefsText(1)->text(), "2000");
  EXPECT_TRUE(PrefsRad(1)->isChecked());
  EXPECT_FALSE(PrefsRad(1)->isEnabled());
  EXPECT_EQ(PrefsText(0)->text(), "4100");
  EXPECT_EQ(journal.back(), "StartListen 4100");
  EXPECT_FALSE(Tray()->isVisible());

  PrefsText(1)->setText(QStringLiteral("0"));
  RepText(7)->setText(QStringLiteral("15"));
  form->FormUnload();

  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  const QByteArray saved = ini.readAll();
  EXPECT_TRUE(saved.contains("updateT=32767\r\n")) << saved.toStdString();
  EXPECT_TRUE(saved.contains("statusN=15\r\n"));
  EXPECT_TRUE(saved.contains("replaceIIblock=one<BR>two\r\n"));
  EXPECT_TRUE(saved.contains("note=kept\r\n"));
  EXPECT_TRUE(saved.contains("port=4100\r\nminimize=0\r\n"));
}

// ---------------------------------------------------------------------------------------------
// Event log, title and the settings that composition reads

TEST_F(WindowTest, EventLogIsShownLiveAndClearedByTheButton) {
  log.ListAdd("Before");
  SetUp();  // lines already there are shown too
  Load();
  log.ListAdd("Socket (1): Local Socket Closed");
  log.ListAdd("Socket (1): Local Socket Closed");
  auto* list = Get<QListWidget>(QStringLiteral("mesList"));
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(0)->text(), "1 x Before");
  EXPECT_EQ(list->item(1)->text(), "2 x Socket (1): Local Socket Closed");

  Get<QPushButton>(QStringLiteral("mesButton"))->click();
  EXPECT_EQ(list->count(), 0);
  EXPECT_EQ(log.LineCount(), 0);
  log.ListAdd("Before");
  EXPECT_EQ(list->item(0)->text(), "1 x Before");
}

TEST_F(WindowTest, TitleFollowsTheScreenName) {
  Load();
  ASSERT_TRUE(monitor.titleListener);
  monitor.titleListener(" [ Some Body ] - Quorvel");
  EXPECT_EQ(form->windowTitle(), " [ Some Body ] - Quorvel");
}

TEST_F(WindowTest, CompositionReadsTheControlsAsTheyAreNow) {
  Load();
  const FormatSettings& format = *form;
  const UpdateSettings& updates = *form;
  EXPECT_EQ(format.Field(MediaField::kSong).token, "%s");

  RepText(1)->setText(QStringLiteral("$song"));
  Get<QComboBox>(QStringLiteral("repFormat_1"))->setCurrentIndex(kCaseUpper);
  RepText(6)->setText(QStringLiteral("20"));
  RepText(11)->setText(QStringLiteral("~"));
  Get<QComboBox>(QStringLiteral("repFormat_6"))->setCurrentIndex(2);
  const FieldFormat song = format.Field(MediaField::kSong);
  EXPECT_EQ(song.token, "$song");
  EXPECT_EQ(song.caseMode, kCaseUpper);
  EXPECT_EQ(song.lengthText, "20");
  EXPECT_EQ(song.padText, "~");
  EXPECT_EQ(song.justification, "Right");

  Get<QCheckBox>(QStringLiteral("repCheck"))->setChecked(true);
  Get<QCheckBox>(QStringLiteral("repCheck2"))->setChecked(true);
  RepText(15)->setText(QStringLiteral("[var]"));
  Get<QLineEdit>(QStringLiteral("repIIText_0"))->setText(QStringLiteral("%B"));
  Get<QPlainTextEdit>(QStringLiteral("repIIText_1"))->setPlainText(QStringLiteral("a\nb"));
  EXPECT_TRUE(format.LimitOnly());
  EXPECT_TRUE(format.BufferOn());
  EXPECT_EQ(format.BufferText(), "[var]");
  EXPECT_EQ(format.BlockToken(), "%B");
  EXPECT_EQ(format.Block(), "a\r\nb");

  EXPECT_TRUE(updates.Enabled());
  EXPECT_TRUE(updates.ProfileUpdates());
  EXPECT_TRUE(updates.AwayUpdates());
  EXPECT_FALSE(updates.AwayUsesBlock());
  PrefsChk(0)->setChecked(false);
  PrefsChk(1)->setChecked(false);
  PrefsChk(2)->setChecked(false);
  PrefsRad(1)->setChecked(true);
  EXPECT_FALSE(updates.Enabled());
  EXPECT_FALSE(updates.ProfileUpdates());
  EXPECT_FALSE(updates.AwayUpdates());
  EXPECT_TRUE(updates.AwayUsesBlock());
}

// ---------------------------------------------------------------------------------------------
// The browse button

TEST_F(WindowTest, BrowseCopiesTheChosenFileAndKeepsItWhenCancelled) {
  Load();
  form->show();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString chosen = dir.filePath(QStringLiteral("client"));
  QFile file(chosen);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();

  // Answers the dialog that the button opens, once it runs.
  auto answer = [](std::function<void(QFileDialog*)> act) {
    QTimer::singleShot(0, [act] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      act(dialog);
    });
  };
  QLineEdit* path = PrefsText(2);
  auto* browse = Get<QPushButton>(QStringLiteral("prefsButton"));

  path->setText(QStringLiteral("/opt/typed/client"));
  answer([](QFileDialog* d) { d->reject(); });
  browse->click();
  EXPECT_EQ(path->text(), "/opt/typed/client");  // nothing chosen yet: the box keeps its text

  answer([&](QFileDialog* d) {
    d->selectFile(chosen);
    static_cast<QDialog*>(d)->accept();
  });
  browse->click();
  EXPECT_EQ(path->text(), chosen);

  path->setText(QStringLiteral("/elsewhere"));
  answer([](QFileDialog* d) { d->reject(); });
  browse->click();
  EXPECT_EQ(path->text(), chosen);  // the last file chosen in the dialog
}

}  // namespace
}  // namespace quorvel::testing
