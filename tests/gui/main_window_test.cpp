// The main window's reactions, loading, closing, launching and layout, driven as a user and the
// program drive them; and the program itself with its window. The fixture stands in for the relay,
// the monitor and the settings file, and notes what they are told in one journal, so that the order
// of the steps shows.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <functional>

#include "gui/main_window.h"
#include "gui/launch_file.h"

namespace quorvel::testing {

// Takes the place of the desktop's programs for one URL scheme and records what they were given.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  UrlRecorder(const char* s) : scheme(s) { QDesktopServices::setUrlHandler(s, this, "Open"); }
  ~UrlRecorder() override { QDesktopServices::unsetUrlHandler(scheme); }
  const QString scheme;
  QList<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened.push_back(url); }
};

namespace {

using ::testing::ElementsAre;

struct WindowTest : ::testing::Test, ProxyControl, MonitorPort, SettingsFile {
  // Builds a fresh window and loads it from `file` (tests call it again to start over).
  void SetUp() override {
    form.reset();
    form = std::make_unique<Form1>(log);
    form->SetTrayAvailability([this] { return trayAvailable; });
    form->Bind(*this, *this, *this);
    form->FormLoad();
  }

  void StartListen(std::uint16_t p) override { journal.push_back("Listen " + std::to_string(p)); }
  void StopListen() override { journal.push_back("Stop"); }
  bool Connection(SlotIndex index) const override { return index == connectedSlot; }
  void SendSock(int, SlotIndex, BytesView) override {}
  void AIMToServer(SlotIndex, Bytes&) override {}
  void ServerToAIM(SlotIndex, Bytes&) override {}
  void ResetForStartUp() override { journal.push_back("Reset"); }
  SlotIndex ActiveSlot() const override { return activeSlot; }
  void CheckTimer() override { ++ticks; }
  void SetTitleListener(std::function<void(const std::string&)> f) override { title = f; }
  std::optional<Preferences> Load() override { return file; }
  void Save(const Preferences& prefs) override {
    journal.push_back(Tray()->isVisible() ? "Save (tray shown)" : "Save (no tray)");
    saved = prefs;
  }

  template <class W = QWidget>
  W* Get(const QString& name) {
    return form->findChild<W*>(name);
  }
  QLineEdit* PrefsText(int i) { return Get<QLineEdit>(QStringLiteral("prefsText_%1").arg(i)); }
  QCheckBox* PrefsChk(int i) { return Get<QCheckBox>(QStringLiteral("prefsChk_%1").arg(i)); }
  QRadioButton* PrefsRad(int i) { return Get<QRadioButton>(QStringLiteral("prefsRad_%1").arg(i)); }
  QScrollBar* Spin() { return Get<QScrollBar>(QStringLiteral("prefsScroll")); }
  QTimer* Timer() { return Get<QTimer>(QStringLiteral("checkTimer")); }
  QSystemTrayIcon* Tray() { return Get<QSystemTrayIcon>(QStringLiteral("SysTray")); }

  std::vector<std::string> journal;
  SlotIndex activeSlot = 0, connectedSlot = -1;  // no client connected
  int ticks = 0;
  std::function<void(const std::string&)> title;
  std::optional<Preferences> file, saved;
  bool trayAvailable = true;
  EventLog log;
  std::unique_ptr<Form1> form;  // destroyed first: it observes the log
};

TEST_F(WindowTest, PortBoxRestartsTheListenerForEachPortUnlessTheClientIsConnected) {
  journal.clear();
  QLineEdit* port = PrefsText(0);
  QTest::keyClick(port, Qt::Key_Backspace);  // "313"
  for (const char* text : {"abc", "0", "65536", "-1", " 80", "99999999999", "40 0"}) {
    port->setText(QString::fromLatin1(text));
    EXPECT_EQ(port->text(), "313") << text;
  }
  port->setCursorPosition(2);
  QTest::keyClick(port, Qt::Key_X);  // refused where it was typed
  EXPECT_EQ(port->cursorPosition(), 2);
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
  EXPECT_EQ(form->ControlValues().port, "");  // kept as typed, for the next start
  EXPECT_THAT(journal, ElementsAre("Stop", "Listen 313", "Stop", "Listen 1100", "Stop",
                                   "Listen 1100", "Stop", "Listen 65535"));
  EXPECT_THAT(log.Lines(), ElementsAre("4 x Port Changed"));

  // Closing while a restart runs (between stopping and starting): the listener stays stopped.
  journal.clear();
  connectedSlot = -1;
  form->show();
  QMetaObject::invokeMethod(form.get(), &QWidget::close, Qt::QueuedConnection);
  port->setText(QStringLiteral("4000"));
  EXPECT_THAT(journal, ElementsAre("Stop", "Save (tray shown)", "Stop"));
}

TEST_F(WindowTest, IntervalBoxAndSpinControlStayTiedAndDriveTheTimer) {
  auto expectInterval = [this](int ms, const char* typed = nullptr) {
    if (typed) PrefsText(1)->setText(QString::fromLatin1(typed));
    EXPECT_EQ(PrefsText(1)->text(), QString::number(ms));
    EXPECT_EQ(Spin()->value(), kSpinMax - ms);
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
  for (const auto& [text, ms] : typed) expectInterval(ms, text);
}

TEST_F(WindowTest, EnableAndAwaySwitchesGovernTheirDependants) {
  // Every control of the page but these follows the enable switch.
  const QStringList own = {"prefsChk_0",   "prefsChk_3",  "prefsChk_4",  "prefsLabel_0",
                           "prefsLabel_4", "prefsText_0", "prefsText_2", "prefsButton"};
  auto expectEnabled = [&](bool on) {
    for (const QWidget* w : Get("Frames_1")->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      EXPECT_EQ(w->isEnabled(), on || own.contains(w->objectName())) << qPrintable(w->objectName());
  };
  auto awayOptions = [this] { return PrefsRad(0)->isEnabled() + PrefsRad(1)->isEnabled(); };
  PrefsChk(0)->setChecked(false);
  expectEnabled(false);
  PrefsChk(0)->setCheckState(Qt::PartiallyChecked);  // a greyed switch counts as on
  expectEnabled(true);
  PrefsChk(2)->setChecked(false);
  EXPECT_EQ(awayOptions(), 0);
  PrefsChk(0)->setChecked(false);
  PrefsChk(0)->setChecked(true);
  EXPECT_EQ(awayOptions(), 0);  // they come back with the enable switch only with the away switch
  PrefsChk(2)->setChecked(true);
  EXPECT_EQ(awayOptions(), 2);
}

TEST_F(WindowTest, LengthBoxesTakeOnlyDigitsAndKeysWithoutACharacter) {
  for (int i = 0; i < 16; ++i) {
    const bool length = i >= 5 && i <= 9;
    auto* box = Get<QLineEdit>(QStringLiteral("repText_%1").arg(i));
    box->setText(QStringLiteral("0"));
    QTest::keyClick(box, Qt::Key_Backspace);  // a length box keeps its last character
    QTest::keyClicks(box, QStringLiteral("a-7"));
    EXPECT_EQ(box->text(), length ? "07" : "a-7") << i;
    for (const auto key : {Qt::Key_Home, Qt::Key_Delete, Qt::Key_5, Qt::Key_End, Qt::Key_Backspace})
      QTest::keyClick(box, key);
    EXPECT_EQ(box->text(), length ? "5" : "5-") << i;
  }
}

TEST_F(WindowTest, MinimisingGoesToTheTrayOnlyWithTheTrayBoxAndANotificationArea) {
  form->show();
  auto minimise = [this] {
    form->showMinimized();
    QCoreApplication::processEvents();
    return form->isVisible() && form->isMinimized();  // stays on the task bar
  };
  PrefsChk(3)->setChecked(false);
  EXPECT_FALSE(Tray()->isVisible());
  EXPECT_TRUE(minimise());
  form->showNormal();
  PrefsChk(3)->setChecked(true);
  EXPECT_TRUE(Tray()->isVisible());
  trayAvailable = false;  // a desktop without a notification area
  EXPECT_TRUE(minimise());
  form->showNormal();
  trayAvailable = true;
  for (const auto reason :
       {QSystemTrayIcon::Trigger, QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick}) {
    minimise();
    emit Tray()->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_FALSE(form->isVisible() || form->isMinimized());  // hidden, at its normal size
    emit Tray()->activated(reason);
    EXPECT_TRUE(form->isVisible()) << reason;
  }
}

// Every key of the settings file reads the same from both.
void ExpectSame(const Preferences& a, const Preferences& b) {
  for (std::size_t i = 0; i < kPrefKeyCount; ++i) {
    const auto key = static_cast<PrefKey>(i);
    EXPECT_EQ(PrefText(a, key), PrefText(b, key)) << InfoOf(key).name;
  }
}

TEST_F(WindowTest, LoadingWithoutAFileListensWithTheDefaultsAndClosingSavesOnce) {
  EXPECT_THAT(journal, ElementsAre("Reset", "Listen 3131"));
  ExpectSame(form->ControlValues(), Preferences{});
  EXPECT_TRUE(Timer()->isActive());
  EXPECT_EQ(Timer()->interval(), 5000);
  EXPECT_TRUE(Tray()->isVisible());
  EXPECT_TRUE(Get("Frames_0")->isVisibleTo(form.get()));  // the Events page, and no other
  EXPECT_FALSE(Get("Frames_1")->isVisibleTo(form.get()));
  // The event log and the title are shown as they change.
  log.ListAdd("Closed");
  log.ListAdd("Closed");
  auto* events = Get<QListWidget>("mesList");
  ASSERT_EQ(events->count(), 1);
  EXPECT_EQ(events->item(0)->text(), "2 x Closed");
  Get<QPushButton>("mesButton")->click();
  EXPECT_EQ(events->count() + log.LineCount(), 0);
  title(" [ Some Body ] - Quorvel");
  EXPECT_EQ(form->windowTitle(), " [ Some Body ] - Quorvel");

  journal.clear();
  form->show();
  int unloads = 0;
  QObject::connect(form.get(), &Form1::unloaded, [&] { ++unloads; });
  Get<QComboBox>("repFormat_2")->setEditText(QStringLiteral("Shout"));
  form->close();
  form->close();
  form->FormUnload();
  // Saved while the icon is still there; then the icon goes and the listener stops.
  EXPECT_THAT(journal, ElementsAre("Save (tray shown)", "Stop"));
  EXPECT_FALSE(Tray()->isVisible());
  EXPECT_FALSE(Timer()->isActive());
  EXPECT_EQ(unloads, 1);
  EXPECT_EQ(saved->fields[2].caseIndex, -1);  // a text that is no item of the list
}

TEST_F(WindowTest, LoadingAppliesTheStoredValuesWithTheirReactionsAndClosingSavesThem) {
  Preferences p;
  p.port = "4000";
  p.minimize = p.act = p.profileact = p.awayact = 0;
  p.bind = "127.0.0.2";  // has no control, and is saved as loaded
  p.awayprefOwnMessage = false;
  p.launchpath = "/opt/im/client";
  p.updateT = kSpinMax - 1000;
  p.fields[0] = {"[a]", kCaseUpper, "12", "-", "Left"};
  p.fields[1] = {"[s]", -1, "7", ".", "Right"};
  p.fields[2] = {"", kCaseLower, "", "", "Centre"};  // text that is not an item stays as text
  p.fields[3] = {"[t]", kCaseFirstCap, "3", "*", "Center"};
  p.fields[4] = {"[x]", kCaseNone, "4", "=", "Left"};
  p.limit = p.repBufferCheck = 1;
  p.repBufferText = "<var>";
  p.replaceII = "%block";
  p.replaceIIblock = "line one\r\nline <two>\r\n\r\nlast";
  file = p;
  journal.clear();
  SetUp();
  ExpectSame(form->ControlValues(), p);
  // The stored port restarted the listener while the settings loaded; then the load listened.
  EXPECT_THAT(journal, ElementsAre("Reset", "Stop", "Listen 4000", "Listen 4000"));
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Port Changed"));
  EXPECT_EQ(Timer()->interval(), 1000);
  EXPECT_FALSE(PrefsChk(1)->isEnabled());
  EXPECT_FALSE(PrefsRad(1)->isEnabled());
  EXPECT_FALSE(Tray()->isVisible());
  EXPECT_EQ(Get<QPlainTextEdit>("repIIText_1")->toPlainText(), "line one\nline <two>\n\nlast");
  // What composition reads: the block's lines end with CR LF again.
  EXPECT_EQ(static_cast<const FormatSettings&>(*form).Block(), p.replaceIIblock);
  EXPECT_TRUE(static_cast<const UpdateSettings&>(*form).AwayUsesBlock());
  journal.clear();
  form->FormUnload();
  ExpectSame(*saved, p);
  EXPECT_THAT(journal, ElementsAre("Save (no tray)", "Stop"));
}

TEST_F(WindowTest, LaunchingStartsExecutablesOpensOtherFilesAndFailsSilently) {
  QTemporaryDir dir;
  UrlRecorder files("file"), web("https");
  const QString client = dir.filePath(QStringLiteral("client.sh"));
  std::ofstream(client.toStdString()) << "#!/bin/sh\necho > started\n";
  // Loading launches the client only when asked, and goes on when it cannot.
  for (const auto& [on, path] :
       {std::pair{0, client}, {1, QString()}, {1, QString("/no/such/client")}, {1, client}}) {
    file = Preferences{.launchcheck = on, .launchpath = path.toStdString()};
    SetUp();
  }
  EXPECT_TRUE(ShellExec(dir.path()));  // a folder, like a file that is not executable, is opened
  EXPECT_TRUE(ShellExec(QStringLiteral("https://example.org/im")));
  for (const char* name : {"", " ", "/no/such/client", "no-such-client", "C:\\im\\client.exe"})
    EXPECT_FALSE(ShellExec(name)) << name;
  EXPECT_THAT(files.opened,
              ElementsAre(QUrl::fromLocalFile(client), QUrl::fromLocalFile(dir.path())));
  EXPECT_THAT(web.opened, ElementsAre(QUrl(QStringLiteral("https://example.org/im"))));

  // An executable is started, in the given folder.
  ASSERT_TRUE(QFile::setPermissions(client, QFile::permissions(client) | QFileDevice::ExeOwner));
  EXPECT_TRUE(ShellExec(client, dir.path()));
  EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(dir.filePath("started")); }, 10000));
  EXPECT_EQ(files.opened.size(), 2);
}

// ---------------------------------------------------------------------------------------------
// The layout: every page is rendered to a PNG in QUORVEL_SCREENSHOT_DIR (the build folder unless
// set; docs/screenshots holds a committed copy) and checked: the window's size, every control
// inside its page, no two controls overlapping, captions that fit, something drawn where each
// control stands, and the two warnings (and no other label) red.

// True when some pixel inside `area` passes `test`.
bool AnyPixel(const QImage& image, const QRect& area, const std::function<bool(QRgb)>& test) {
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (test(image.pixel(x, y))) return true;
    }
  }
  return false;
}

TEST(WindowLayout, EveryPageRendersWithItsControlsInsideAndApart) {
  EventLog log;
  log.ListAdd("Socket (1): Local Socket Closed");
  log.ListAdd("Port Changed");
  Form1 form(log);
  form.show();
  EXPECT_EQ(form.size(), QSize(457, 161));
  // The icon is drawn from the program's resources, for the window and the tray alike.
  EXPECT_FALSE(form.windowIcon().pixmap(32, 32).isNull());
  EXPECT_FALSE(form.findChild<QSystemTrayIcon*>()->icon().pixmap(32, 32).isNull());

  const QDir dir(qEnvironmentVariable("QUORVEL_SCREENSHOT_DIR", QUORVEL_SCREENSHOT_DIR));
  ASSERT_TRUE(dir.mkpath(QStringLiteral(".")));
  const QStringList files = {"events", "preferences", "replace", "replace-continued", "about"};
  auto isRed = [](QRgb p) { return qRed(p) > 180 && qGreen(p) < 90 && qBlue(p) < 90; };
  auto* pages = form.findChild<QListWidget*>(QStringLiteral("master_list"));
  for (int i = 0; i < kPageCount; ++i) {
    SCOPED_TRACE(files[i].toStdString());
    pages->setCurrentRow(i);
    auto* page = form.findChild<QWidget*>(QStringLiteral("Frames_%1").arg(i));
    ASSERT_TRUE(page->isVisible());
    EXPECT_TRUE(form.rect().contains(page->geometry()));
    EXPECT_FALSE(page->geometry().intersects(pages->geometry()));
    EXPECT_TRUE(form.grab().save(dir.filePath("window-" + files[i] + ".png")));

    const QImage image = page->grab().toImage();
    const auto controls = page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    EXPECT_FALSE(controls.isEmpty());
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
      EXPECT_TRUE(!captioned || control->sizeHint().width() <= control->width())
          << name << " is cut";
      const bool warning = name == "prefsLabel_3" || name == "repIILabel_2";
      EXPECT_EQ(control->inherits("QLabel") && AnyPixel(image, area, isRed), warning) << name;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The quorvel program with its window, run as a user runs it: it listens on the port of its
// settings file, ends on SIGTERM through the closing sequence (the file written), and without a
// display it says to use --headless.

TEST(WindowProgram, ListensOnTheStoredPortAndSavesOnTerminate) {
  QTemporaryDir dir;
  const QString prefs = dir.filePath(QStringLiteral("prefs.ini"));
  QTcpServer probe;
  ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
  const std::uint16_t port = probe.serverPort();
  probe.close();
  std::ofstream(prefs.toStdString())
      << "[KAVO]\r\nupdateT=30767\r\n[prefs]\r\nport=" << port << "\r\nminimize=0\r\n";

  QProcess program;  // on the platform the tests run on (offscreen unless chosen otherwise)
  program.start(QUORVEL_BINARY, {"--prefs", prefs, "--player", "none"});
  ASSERT_TRUE(program.waitForStarted(10000));
  auto accepts = [port] {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(500);
  };
  EXPECT_TRUE(QTest::qWaitFor(accepts, 15000)) << program.readAllStandardError().toStdString();
  program.terminate();  // SIGTERM
  ASSERT_TRUE(program.waitForFinished(15000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();

  QFile file(prefs);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray saved = file.readAll();
  EXPECT_TRUE(saved.contains("updateT=30767\r\n")) << saved.toStdString();
  EXPECT_TRUE(saved.contains("act=1\r\n"));  // the whole file is written
  EXPECT_TRUE(saved.contains(QStringLiteral("port=%1\r\n").arg(port).toLatin1()));
}

TEST(WindowProgram, WithoutADisplayPointsToHeadless) {
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
  program.setProcessEnvironment(env);
  program.start(QUORVEL_BINARY, {});
  ASSERT_TRUE(program.waitForFinished(15000));
  EXPECT_EQ(program.exitCode(), 1);
  EXPECT_TRUE(program.readAllStandardError().contains("--headless"));
}

}  // namespace
}  // namespace quorvel::testing

// Runs the tests inside one QApplication, on the offscreen platform unless another is set.
int main(int argc, char* argv[]) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The offscreen platform has no notification area; Qt's tray icon says so on every use.
  qputenv("QT_LOGGING_RULES", "qt.core.qobject.connect=false");
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}

#include "main_window_test.moc"
