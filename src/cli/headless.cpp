#include "cli/headless.h"

#include <QCoreApplication>
#include <memory>
#include <string>

#include "session/relay_runtime.h"
#include "session/monitor_session.h"
#include "settings/settings_table.h"
#include "settings/prefs_store.h"

namespace quorvel {
namespace {

void PrintLine(const std::string& text) {
  const std::string line = text + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

// The relay's host: the session's traffic monitor, whose timer stops when the event loop ends so
// that no update goes out while the connections close.
class SessionHost : public ProxyHost {
 public:
  SessionHost(ProxyControl& proxy, MediaPlayer& player, const Preferences& prefs)
      : session_(proxy, player, prefs, PrintLine) {
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                     QCoreApplication::instance(), [this] { session_.SetInterval(0); });
  }

  void IncomingAIM(SlotIndex index, Bytes& data) override {
    session_.Host().IncomingAIM(index, data);
  }
  void OutgoingAIM(SlotIndex index, Bytes& data) override {
    session_.Host().OutgoingAIM(index, data);
  }
  void IncomingData(SlotIndex index, std::uint16_t port, Bytes& data) override {
    session_.Host().IncomingData(index, port, data);
  }
  void OutgoingData(SlotIndex index, std::uint16_t port, Bytes& data) override {
    session_.Host().OutgoingData(index, port, data);
  }
  void SocketEvent(SlotIndex index, const std::string& description) override {
    session_.Host().SocketEvent(index, description);
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

  return RunHeadless(options, [&](ProxyControl& proxy, auto) -> std::unique_ptr<ProxyHost> {
    return std::make_unique<SessionHost>(proxy, player, prefs);
  });
}

}  // namespace quorvel
