#include "app/headless.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "proxy/aim_proxy.h"
#include "proxy/forwarding_host.h"
#include "proxy/qt_socket.h"

namespace quorvel {
namespace {

// Signals are turned into a byte on a socket pair, read on the event loop.
int signal_fds[2] = {-1, -1};

void OnSignal(int /*signal*/) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(signal_fds[1], &byte, 1);
}

void PrintEvent(SlotIndex index, const std::string& description) {
  const std::string line = SocketEventLine(index, description) + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int RunHeadless(const HeadlessOptions& options, const HostMaker& makeHost) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signal_fds) != 0) {
    std::perror("socketpair");
    return 1;
  }
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  QtSocketFactory factory;
  AIMProxy proxy(factory);
  proxy.SetBindAddress(options.bind_address);
  std::unique_ptr<ProxyHost> host =
      makeHost ? makeHost(proxy, PrintEvent) : std::make_unique<ForwardingHost>(proxy, PrintEvent);
  proxy.SetHost(host.get());

  QSocketNotifier notifier(signal_fds[0], QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
    char byte = 0;
    [[maybe_unused]] const ssize_t n = ::read(signal_fds[0], &byte, 1);
    notifier.setEnabled(false);
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
