#include "app/headless_monitor.h"

#include <QCoreApplication>
#include <memory>
#include <string>

#include "app/headless.h"
#include "app/monitor_session.h"
#include "app/prefs_keys.h"
#include "app/prefs_store.h"

namespace quorvel {
namespace {

void PrintLine(const std::string& text) {
  const std::string line = text + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

// The relay's host: the session's traffic monitor, whose timer stops when the event loop ends so
// that no update goes out while the connections close.
class SessionHost : public RelayHost {
 public:
  SessionHost(RelayControl& proxy, MediaPlayer& player, const Preferences& prefs)
      : session_(proxy, player, prefs, PrintLine) {
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                     QCoreApplication::instance(), [this] { session_.SetInterval(0); });
  }

  void FrameFromClient(SlotIndex slot, Bytes& frame) override {
    session_.Host().FrameFromClient(slot, frame);
  }
  void FrameFromServer(SlotIndex slot, Bytes& frame) override {
    session_.Host().FrameFromServer(slot, frame);
  }
  void BytesFromClient(SlotIndex slot, std::uint16_t port, Bytes& data) override {
    session_.Host().BytesFromClient(slot, port, data);
  }
  void BytesFromServer(SlotIndex slot, std::uint16_t port, Bytes& data) override {
    session_.Host().BytesFromServer(slot, port, data);
  }
  void RelayEvent(SlotIndex slot, const std::string& text) override {
    session_.Host().RelayEvent(slot, text);
  }

 private:
  MonitorSession session_;
};

}  // namespace

int RunHeadlessMonitor(const CommandLine& line, PrefsStore& store, MediaPlayer& player) {
  const Preferences prefs = store.Load();

  HeadlessOptions options;
  options.bind_address = prefs.bind;
  // --port is for this run only: the stored port is what gets saved.
  options.port = line.port ? *line.port : PortNumber(prefs).value_or(options.port);
  options.on_close = [&store, &prefs] { store.Save(prefs); };

  return RunHeadless(options, [&](RelayControl& proxy, auto) -> std::unique_ptr<RelayHost> {
    return std::make_unique<SessionHost>(proxy, player, prefs);
  });
}

}  // namespace quorvel
