#include "session/relay_runtime.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <csignal>
#include <cstdio>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "session/termination_signals.h"
#include "proxy/aim_proxy.h"
#include "proxy/forwarding_host.h"
#include "proxy/qt_socket.h"

namespace quorvel {
namespace {

void PrintEvent(SlotIndex index, const std::string& description) {
  const std::string line = SocketEventLine(index, description) + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int RunHeadless(const HeadlessOptions& options, const HostMaker& makeHost) {
  // Relayed chunks are up to a few hundred KiB. Served from the heap and kept there once freed,
  // they are not mapped, zero-filled and unmapped again for every chunk.
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 4 << 20);
  mallopt(M_TRIM_THRESHOLD, 16 << 20);
#endif
  TerminationSignals terminations;
  if (!terminations.IsActive()) {
    std::perror("cannot catch SIGINT and SIGTERM");
    return 1;
  }
  std::signal(SIGPIPE, SIG_IGN);

  QtSocketFactory factory;
  AIMProxy proxy(factory);
  proxy.SetBindAddress(options.bind_address);
  std::unique_ptr<ProxyHost> host =
      makeHost ? makeHost(proxy, PrintEvent) : std::make_unique<ForwardingHost>(proxy, PrintEvent);
  proxy.SetHost(host.get());

  bool closing = false;
  QObject::connect(&terminations, &TerminationSignals::received, [&] {
    if (std::exchange(closing, true)) return;
    if (options.on_close) options.on_close();
    proxy.StopListen();
    QCoreApplication::quit();
  });

  proxy.StartListen(options.port);
  if (proxy.ListeningPort() == 0) return 1;
  std::fprintf(stderr, "Listening on %s:%u\n", options.bind_address.c_str(),
               static_cast<unsigned>(proxy.ListeningPort()));

  QCoreApplication::exec();

  // Give closed connections a moment to deliver what they still have queued.
  QDeadlineTimer deadline(2000);
  while (QtSocketFactory::LingeringCount() > 0 && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  proxy.SetHost(nullptr);
  return 0;
}

}  // namespace quorvel
