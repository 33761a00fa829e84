#include "gui/window_front_end.h"

#include <QApplication>
#include <QSessionManager>
#include <cstdio>
#include <cstring>

#include "gui/main_window.h"
#include "gui/window_services.h"
#include "media/composer.h"
#include "monitor/traffic_monitor.h"
#include "session/player_change_updates.h"
#include "session/relay_event_tap.h"
#include "session/relay_runtime.h"
#include "session/single_instance.h"
#include "settings/preferences_settings.h"
#include "settings/prefs_store.h"

namespace quorvel {

bool DisplayAvailable() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  return !qEnvironmentVariableIsEmpty("DISPLAY") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
         !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#else
  return true;
#endif
}

bool WindowRequested(int argc, const char* const argv[]) {
  for (int i = 1; i < argc; ++i) {
    for (const char* option :
         {"--headless", "--now-playing", "--list-players", "--help", "-h", "--version", "-v"}) {
      const std::size_t length = std::strlen(option);
      if (std::strncmp(argv[i], option, length) == 0 &&
          (argv[i][length] == '\0' || argv[i][length] == '=')) {
        return false;
      }
    }
  }
  return true;
}

std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char* argv[]) {
  if (WindowRequested(argc, argv) && DisplayAvailable()) {
    return std::make_unique<QApplication>(argc, argv);
  }
  return std::make_unique<QCoreApplication>(argc, argv);
}

void ConnectLifecycle(MainWindow& window, TerminationSignals& terminations) {
  QObject::connect(&window, &MainWindow::shutDown, QCoreApplication::instance(),
                   &QCoreApplication::quit);
  QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &window,
                   &MainWindow::Shutdown);
#ifndef QT_NO_SESSIONMANAGER
  if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    QObject::connect(
        gui, &QGuiApplication::commitDataRequest, &window,
        [&window](QSessionManager&) { window.Shutdown(); }, Qt::DirectConnection);
  }
#endif
  QObject::connect(&terminations, &TerminationSignals::received, &window, &MainWindow::Shutdown);
}

namespace {

// prefs.ini, which also gives the relay the address to listen on before the first port setting
// starts it.
class RelaySettingsFile : public PrefsStoreFile {
 public:
  RelaySettingsFile(PrefsStore& store, Relay& proxy) : PrefsStoreFile(store), proxy_(proxy) {}
  std::optional<Preferences> Load() override {
    std::optional<Preferences> prefs = PrefsStoreFile::Load();
    proxy_.SetBindAddress(prefs ? prefs->bindAddress : Preferences().bindAddress);
    return prefs;
  }

 private:
  Relay& proxy_;
};

}  // namespace

std::unique_ptr<PlayerChangeUpdates> FollowPlayer(MainWindow& window, MediaPlayer& player) {
  // The profile and away message follow a new track at once, not at the next tick; the player
  // box and the status follow the player and players coming and going.
  return std::make_unique<PlayerChangeUpdates>(
      player, [&window] { window.RunUpdatesNow(); },
      PlayerWatch{[&window] {
                    window.ListPlayersPresent();
                    window.PlayerChanged();
                  },
                  [&window] { window.PlayerChanged(); }});
}

int RunWindow(PrefsStore& store, MediaPlayer& player, SingleInstance& instance,
              std::optional<std::uint16_t> port) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    std::fprintf(stderr, "%s\n", kNoDisplayMessage);
    return 1;
  }
  // Lets Wayland compositors match the window to its installed desktop entry.
  QGuiApplication::setDesktopFileName(QStringLiteral(QUORVEL_APP_ID));
  // The window hidden in the tray is no reason to end: the program ends by its closing sequence.
  QApplication::setQuitOnLastWindowClosed(false);

  RelayRuntime relay;
  Relay& proxy = relay.Proxy();
  EventLog log;
  MainWindow window(log);
  // Composition reads the settings that the window's controls hold.
  const PreferencesSettings settings(window.Settings());
  Composer composer(player, settings);
  TrafficMonitor monitor(proxy, composer, settings, log);
  RelayEventTap tap(monitor, [&window](SlotIndex slot, const std::string& text) {
    window.RelayEventSeen(slot, text);
  });
  proxy.SetHost(&tap);
  MonitorPortFor<TrafficMonitor> monitorPort(monitor);
  RelaySettingsFile settingsFile(store, proxy);
  window.Attach(proxy, monitorPort, settingsFile);
  window.AttachPlayer(player);
  const std::unique_ptr<PlayerChangeUpdates> playerChanges = FollowPlayer(window, player);
  if (port) window.ListenForThisRunOn(*port);

  instance.SetDescription([&window, &proxy] {
    return RunningInstance{true, window.Settings().bindAddress, proxy.ListeningPort()};
  });
  QObject::connect(&instance, &SingleInstance::showRequested, &window, &MainWindow::BringForward);

  ConnectLifecycle(window, relay.Terminations());
  window.Start();
  window.show();
  const int status = relay.Run();
  return window.SettingsSaved() ? status : 1;
}

}  // namespace quorvel
