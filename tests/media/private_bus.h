#pragma once
// A D-Bus daemon of the test's own, started on construction and killed (by its process) on
// destruction, so that tests never see or disturb the user's session bus.

#include <QProcess>
#include <QString>

namespace quorvel::testing {

class PrivateBus {
 public:
  PrivateBus() {
    daemon_.setProgram(QStringLiteral("dbus-daemon"));
    daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                          QStringLiteral("--print-address")});
    daemon_.setProcessChannelMode(QProcess::SeparateChannels);
    daemon_.start();
    if (daemon_.waitForStarted(10000)) {
      for (int i = 0; i < 100 && !daemon_.canReadLine(); ++i) {
        daemon_.waitForReadyRead(100);
      }
      address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
  }
  ~PrivateBus() {
    daemon_.kill();
    daemon_.waitForFinished(10000);
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const QString& Address() const { return address_; }  // empty when the daemon did not start

 private:
  QProcess daemon_;
  QString address_;
};

}  // namespace quorvel::testing
