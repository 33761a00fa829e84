#include "session/termination_signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace quorvel {
namespace {

// The handler may only write: the signal number goes over a socket pair to the event loop.
int signalPipe[2] = {-1, -1};

void OnSignal(int signal) {
  const auto byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

void Handle(int signal, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, nullptr);
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
    return;
  }
  notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::Read);
  Handle(SIGINT, OnSignal);
  Handle(SIGTERM, OnSignal);
}

TerminationSignals::~TerminationSignals() {
  if (!notifier_) return;
  Handle(SIGINT, SIG_DFL);
  Handle(SIGTERM, SIG_DFL);
  notifier_.reset();
  ::close(signalPipe[0]);
  ::close(signalPipe[1]);
  signalPipe[0] = signalPipe[1] = -1;
}

void TerminationSignals::Read() {
  unsigned char byte = 0;
  while (::read(signalPipe[0], &byte, 1) == 1) emit received(byte);
}

}  // namespace quorvel
