#pragma once
// SIGINT and SIGTERM as a Qt signal on the event loop, so that the program can end through its
// ordinary closing sequence (settings saved, listener stopped) when it is interrupted or the
// session ends.

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace quorvel {

class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  // Catches SIGINT and SIGTERM from now on. One instance at a time.
  explicit TerminationSignals(QObject* parent = nullptr);
  // Restores the default handling.
  ~TerminationSignals() override;

  // False when the handlers could not be installed.
  bool IsActive() const { return notifier_ != nullptr; }

 signals:
  void received(int signal);

 private:
  void Read();

  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace quorvel
