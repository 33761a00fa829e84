#include "cli/headless.h"

#include <QCoreApplication>
#include <cstdio>
#include <string>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "session/monitor_session.h"
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

int RunHeadless(const CommandLine& line, PrefsStore& store, MediaPlayer& player) {
  const Preferences prefs = store.Load();
  player.SetChoice(PlayerChoiceOf(prefs));
  // Relayed chunks are up to a few hundred KiB. Served from the heap and kept there once freed,
  // they are not mapped, zero-filled and unmapped again for every chunk.
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 4 << 20);
  mallopt(M_TRIM_THRESHOLD, 16 << 20);
#endif
  bool closing = false;
  RelayRuntime relay;
  if (!relay.Terminations().IsActive()) {
    std::perror("cannot catch SIGINT and SIGTERM");
    return 1;
  }
  Relay& proxy = relay.Proxy();
  proxy.SetBindAddress(prefs.bindAddress);
  MonitorSession session(proxy, player, prefs, PrintLine);
  proxy.SetHost(&session.Host());

  QObject::connect(&relay.Terminations(), &TerminationSignals::received, [&] {
    if (std::exchange(closing, true)) return;
    store.Save(prefs);
    proxy.StopListening();
    QCoreApplication::quit();
  });

  // --port is for this run only: the stored port is what gets saved.
  proxy.StartListening(line.port ? *line.port : ParsePort(prefs.port).value_or(kFallbackPort));
  if (proxy.ListeningPort() == 0) return 1;
  std::fprintf(stderr, "Listening on %s:%u\n", prefs.bindAddress.c_str(),
               static_cast<unsigned>(proxy.ListeningPort()));
  relay.Run();
  return 0;
}

}  // namespace quorvel
