#include "cli/second_start.h"

#include <iostream>
#include <optional>
#include <string>

#include "session/listener_report.h"

namespace quorvel {
namespace {

std::string HowItRuns(const RunningInstance& running) {
  std::string how = running.hasWindow ? "with its window" : "without a window";
  if (running.port == 0) return how + ", not listening";
  return how + ", listening on " + EndpointText(running.address, running.port);
}

}  // namespace

int AnswerSecondStart(SingleInstance& instance, bool headless, const QString& settingsPath) {
  const std::string settings = settingsPath.toStdString();
  const std::optional<RunningInstance> running = instance.AskHolder(
      headless ? SingleInstance::Request::kStatus : SingleInstance::Request::kShow);
  if (!running) {
    std::cerr << "quorvel: another Quorvel holds " << settings
              << " but does not answer; not starting a second one" << std::endl;
    return 1;
  }
  if (!headless && running->hasWindow) {
    std::cerr << "quorvel: already running for " << settings << "; its window is brought forward"
              << std::endl;
    return 0;
  }
  std::cerr << "quorvel: already running for " << settings << " (" << HowItRuns(*running)
            << "); stop it first, or name other settings with --prefs FILE" << std::endl;
  return 1;
}

}  // namespace quorvel
