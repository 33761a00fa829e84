#pragma once
// The main window with stand-ins for the relay, the monitor, the settings file and the media
// player, which note what they are told in one journal, so that the order of the steps shows.

#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>
#include <functional>
#include <memory>

#include "gui/main_window.h"
#include "gui/window_front_end.h"
#include "media/fake_media.h"
#include "session/player_change_updates.h"

namespace quorvel::testing {

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
  QComboBox* Combo(const char* name) { return Get<QComboBox>(name); }
  QTimer* Timer() { return Get<QTimer>("updateTimer"); }
  QSystemTrayIcon* Tray() { return Get<QSystemTrayIcon>("trayIcon"); }
  std::string Shown(const char* label) { return Get<QLabel>(label)->text().toStdString(); }
  QAction* TrayAction(const char* name) {
    return Tray()->contextMenu()->findChild<QAction*>(QLatin1String(name));
  }
  // Types `text` into the port box, replacing what it holds, and presses Enter when asked.
  void TypePort(const QString& text, bool enter = true) {
    QLineEdit* port = Edit("portEdit");
    port->selectAll();
    if (text.isEmpty()) QTest::keyClick(port, Qt::Key_Backspace);
    QTest::keyClicks(port, text);
    if (enter) QTest::keyClick(port, Qt::Key_Return);
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

}  // namespace quorvel::testing
