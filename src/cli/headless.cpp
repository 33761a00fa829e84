#include "cli/headless.h"

#include <QCoreApplication>
#include <cstdio>
#include <iostream>
#include <string>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "session/listener_report.h"
#include "session/monitor_session.h"
#include "session/relay_event_tap.h"
#include "session/relay_runtime.h"
#include "settings/preferences_settings.h"
#include "settings/settings_table.h"

namespace quorvel {
namespace {

constexpr std::uint16_t kFallbackPort = 3131;

void PrintLine(const std::string& text) {
  const std::string line = text + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int RunHeadless(const CommandLine& line, PrefsStore& store, MediaPlayer& player,
                SingleInstance& instance) {
  const Preferences prefs = store.Load();
  player.SetChoice(PlayerChoiceOf(prefs));
  // Relayed chunks are up to a few hundred KiB. Served from the heap and kept there once freed,
  // they are not mapped, zero-filled and unmapped again for every chunk.
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 4 << 20);
  mallopt(M_TRIM_THRESHOLD, 16 << 20);
#endif
  bool closing = false;
  bool saved = true;
  RelayRuntime relay;
  if (!relay.Terminations().IsActive()) {
    std::perror("cannot catch SIGINT and SIGTERM");
    return 1;
  }
  Relay& proxy = relay.Proxy();
  proxy.SetBindAddress(prefs.bindAddress);
  MonitorSession session(proxy, player, prefs, PrintLine);
  std::string listenFailure;
  RelayEventTap tap(session.Host(), [&listenFailure](SlotIndex slot, const std::string& text) {
    if (auto failure = ListenFailureOf(slot, text)) listenFailure = std::move(*failure);
  });
  proxy.SetHost(&tap);
  instance.SetDescription([&] {
    return RunningInstance{false, prefs.bindAddress, proxy.ListeningPort()};
  });

  QObject::connect(&relay.Terminations(), &TerminationSignals::received, [&] {
    if (std::exchange(closing, true)) return;
    saved = store.Save(prefs);
    proxy.StopListening();
    QCoreApplication::quit();
  });

  // --port is for this run only: the stored port is what gets saved.
  const std::uint16_t port = line.port ? *line.port : ParsePort(prefs.port).value_or(kFallbackPort);
  proxy.StartListening(port);
  if (proxy.ListeningPort() == 0) {
    std::cerr << "quorvel: cannot listen on " << EndpointText(prefs.bindAddress, port) << ": "
              << listenFailure << "\nquorvel: another program may hold the port; listen on "
              << "another with --port N for one run, or set port (and bind) in section [prefs] of "
              << store.Path().toStdString() << std::endl;
    return 1;
  }
  std::fprintf(stderr, "Listening on %s:%u\n", prefs.bindAddress.c_str(),
               static_cast<unsigned>(proxy.ListeningPort()));
  if (!IsLoopbackAddress(prefs.bindAddress)) {
    const std::string warning = BeyondLoopbackWarning(prefs.bindAddress, proxy.ListeningPort());
    std::cerr << "quorvel: " << warning << std::endl;
    session.Log().ListAdd(warning);
  }
  relay.Run();
  return saved ? 0 : 1;
}

}  // namespace quorvel
