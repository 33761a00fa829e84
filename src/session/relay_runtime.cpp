#include "session/relay_runtime.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdlib>
#include <string>

namespace quorvel {
namespace {

constexpr int kDrainMs = 2000;

// How long a client has to complete its request, in milliseconds, when the environment says;
// meant for tests, which cannot wait the default half minute.
int RequestTimeoutMs() {
  const char* text = std::getenv("QUORVEL_REQUEST_TIMEOUT_MS");
  if (text == nullptr || *text == '\0') return Relay::kDefaultRequestTimeoutMs;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value <= 0 || value > 3600 * 1000) return Relay::kDefaultRequestTimeoutMs;
  return static_cast<int>(value);
}

}  // namespace

RelayRuntime::RelayRuntime() : proxy_(factory_) {
  std::signal(SIGPIPE, SIG_IGN);
  proxy_.SetRequestTimeout(RequestTimeoutMs());
}

RelayRuntime::~RelayRuntime() {
  proxy_.SetHost(nullptr);
}

int RelayRuntime::Run() {
  const int status = QCoreApplication::exec();
  QtSocketFactory::DrainLingering(kDrainMs);
  proxy_.SetHost(nullptr);
  return status;
}

}  // namespace quorvel
