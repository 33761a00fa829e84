#pragma once
// A D-Bus daemon of the test's own, killed (by its process) on destruction, so that tests never
// see or disturb the user's session bus.

#include <QProcess>
#include <QString>

namespace quorvel::testing {

class PrivateBus {
 public:
  PrivateBus() {
    daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
    for (int i = 0; i < 100 && !daemon_.canReadLine(); ++i) daemon_.waitForReadyRead(100);
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  }
  ~PrivateBus() {
    daemon_.kill();
    daemon_.waitForFinished(10000);
  }
  const QString& Address() const { return address_; }  // empty when the daemon did not start

 private:
  QProcess daemon_;
  QString address_;
};

}  // namespace quorvel::testing
