#pragma once
// A D-Bus daemon of the test's own, killed (by its process) on destruction, so that tests never
// see or disturb the user's session bus.

#include <QProcess>
#include <QString>

namespace quorvel::testing {

struct PrivateBus {
  PrivateBus() {
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
    for (int i = 0; i < 100 && !daemon.canReadLine(); ++i) daemon.waitForReadyRead(100);
    address = QString::fromUtf8(daemon.readLine()).trimmed();
  }
  ~PrivateBus() {
    daemon.kill();
    daemon.waitForFinished(10000);
  }
  const QString& Address() const { return address; }  // empty when the daemon did not start

  QProcess daemon;
  QString address;
};

}  // namespace quorvel::testing
