#pragma once
// `quorvel --headless` as a child process between test clients and a test OSCAR server, over
// loopback: the server listens on port 5190 of a free 127.0.0.x, each client logs in through the
// proxy by SOCKS4, and a test MPRIS player on a private bus plays "Band" / "Tune". Every wait is
// bounded, and the program is ended (by its own process) when the run goes.

#include <gtest/gtest.h>
#include <qtestsupport_core.h>

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "media/private_bus.h"
#include "media/test_mpris_service.h"
#include "monitor/monitor_fakes.h"
#include "net/loopback.h"
#include "settings/prefs_store.h"

namespace quorvel::testing {

// One client connection through the proxy, and the server's side of it.
struct Login {
  Socket client;
  QTcpSocket* server = nullptr;  // owned by the test server
  Bytes toServer;                // what the server has received so far

  // The FLAP frames the server has received, cut by their length fields (so that a wrong length
  // shows as a wrong frame).
  std::vector<Bytes> Frames() {
    toServer += server->readAll().toStdString();
    std::vector<Bytes> frames;
    for (std::size_t at = 0, n = 0; at + 6 <= toServer.size(); at += n) {
      n = 6 + static_cast<std::size_t>(WordAt(toServer, at + 4));
      if (at + n > toServer.size()) break;
      frames.push_back(toServer.substr(at, n));
    }
    return frames;
  }
  // The SNACs of those frames (the FLAP headers left off).
  std::vector<Bytes> Snacs() {
    std::vector<Bytes> snacs;
    for (const Bytes& frame : Frames()) snacs.push_back(frame.substr(6));
    return snacs;
  }
  long Count(const Bytes& snac) { return std::ranges::count(Snacs(), snac); }

  void FromClient(BytesView snac) { client->write(QByteArray::fromStdString(Flap(snac))); }
  void FromServer(BytesView snac) { server->write(QByteArray::fromStdString(Flap(snac))); }
};

class HeadlessRun {
 public:
  // With --player `player`: the test player "quorveltest", "none" for no player at all, or empty
  // for the choice of the settings.
  HeadlessRun(const Preferences& prefs, const QString& player = QStringLiteral("quorveltest"))
      : player_(bus_.Address(), QStringLiteral("org.mpris.MediaPlayer2.quorveltest"),
                {.artists = {"Band"}, .title = "Tune"}) {
    server_ = Listen(5190);
    const QString file = dir_.filePath("prefs.ini");
    const char* missing = !player_.Registered()           ? "no private D-Bus daemon"
                          : !server_->isListening()       ? "no loopback address free on port 5190"
                          : !PrefsStore(file).Save(prefs) ? "prefs.ini not written"
                                                          : nullptr;
    if (missing != nullptr) {
      ADD_FAILURE() << missing;
      return;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus_.Address().toUtf8());
    program_.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&program_, &QProcess::readyRead,
                     [this] { out_ += program_.readAll().toStdString(); });
    QStringList arguments = {"--headless", "--prefs", file, "--port", "0"};
    if (!player.isEmpty()) arguments << "--player" << player;
    program_.start(QUORVEL_BINARY, arguments);
    // It names its port on standard error once it listens: "Listening on address:port".
    if (!QTest::qWaitFor(
            [this] { return out_.find('\n', out_.find("Listening on ")) != out_.npos; }, 10000)) {
      ADD_FAILURE() << "the program did not listen: " << out_;
      return;
    }
    port_ = static_cast<quint16>(
        std::stoi(out_.substr(out_.find(':', out_.find("Listening on ")) + 1)));
  }

  ~HeadlessRun() {
    if (program_.state() != QProcess::NotRunning) {
      program_.terminate();
      if (!program_.waitForFinished(10000)) program_.kill();
      program_.waitForFinished(5000);
    }
  }

  HeadlessRun(const HeadlessRun&) = delete;
  HeadlessRun& operator=(const HeadlessRun&) = delete;

  bool Running() const { return port_ != 0; }

  // A client logged in through the proxy: its SOCKS request granted and the server's side
  // accepted. Empty sockets when that did not happen within the wait.
  Login Connect() {
    Login login;
    login.client = ConnectTo(port_, Socks4Request(*server_));
    const QByteArray reply = Read(*login.client, 8);
    EXPECT_EQ(reply.size() == 8 ? reply[1] : 0, 0x5A)
        << "the SOCKS reply: " << reply.toHex(' ').toStdString();
    if (Until([&] { return server_->hasPendingConnections(); })) {
      login.server = server_->nextPendingConnection();
    } else {
      ADD_FAILURE() << "the server was not reached";
    }
    return login;
  }

  // Everything the program printed so far, each line after a line break.
  const std::string& Output() const { return out_; }
  bool Printed(const std::string& line) const {
    return ("\n" + out_).find("\n" + line + "\n") != std::string::npos;
  }
  ThreadedTestPlayer& Player() { return player_; }
  const QString& BusAddress() const { return bus_.Address(); }

 private:
  PrivateBus bus_;
  ThreadedTestPlayer player_;
  std::unique_ptr<QTcpServer> server_;
  QTemporaryDir dir_;
  QProcess program_;
  std::string out_;
  quint16 port_ = 0;
};

// Preferences at their defaults but for the update interval, and whether an unchanged frame is
// sent again at every tick.
inline Preferences UpdatingEvery(int ms, bool sendOnChange) {
  Preferences prefs;
  prefs.intervalSpin = kSpinMax - ms;
  prefs.sendOnChange = sendOnChange;
  return prefs;
}

}  // namespace quorvel::testing
