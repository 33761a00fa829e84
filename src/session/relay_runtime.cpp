#include "session/relay_runtime.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <csignal>

namespace quorvel {
namespace {

constexpr int kDrainMs = 2000;

}  // namespace

RelayRuntime::RelayRuntime() : proxy_(factory_) {
  std::signal(SIGPIPE, SIG_IGN);
}

RelayRuntime::~RelayRuntime() {
  proxy_.SetHost(nullptr);
}

int RelayRuntime::Run() {
  const int status = QCoreApplication::exec();
  QDeadlineTimer deadline(kDrainMs);
  while (QtSocketFactory::LingeringCount() > 0 && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  proxy_.SetHost(nullptr);
  return status;
}

}  // namespace quorvel
