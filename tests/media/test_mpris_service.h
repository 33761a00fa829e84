#pragma once
// A media player for tests: answers the MPRIS properties on a D-Bus connection, or (silent) keeps
// every call waiting for an answer that never comes.

#include <QDBusVirtualObject>
#include <QMutex>
#include <QSemaphore>
#include <QString>
#include <QStringList>
#include <QThread>

namespace quorvel::testing {

inline constexpr char kMprisPath[] = "/org/mpris/MediaPlayer2";

struct TestPlayerState {
  QString status = QStringLiteral("Playing");
  QStringList artists;
  QString title;
  qint64 positionUs = 0;
  qint64 lengthUs = 0;
  bool silent = false;
};

class TestMprisObject : public QDBusVirtualObject {
 public:
  explicit TestMprisObject(TestPlayerState state) : state_(std::move(state)) {}
  void Set(TestPlayerState state);
  int GetAllCalls() const;

  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

 private:
  mutable QMutex mutex_;
  TestPlayerState state_;
  int getAllCalls_ = 0;
};

// Registers `serviceName` (org.mpris.MediaPlayer2.x) on its own connection in its own thread, so
// that a test thread blocked on a call can still be answered. Gone from the bus once destroyed.
class ThreadedTestPlayer : private QThread {
 public:
  ThreadedTestPlayer(QString busAddress, QString serviceName, TestPlayerState state);
  ~ThreadedTestPlayer() override;
  bool Registered() const { return registered_; }
  void Set(TestPlayerState state) { object_->Set(std::move(state)); }
  int GetAllCalls() const { return object_->GetAllCalls(); }

 private:
  void run() override;

  QString address_;
  QString serviceName_;
  QString connectionName_;
  TestMprisObject* object_;
  QSemaphore ready_;
  bool registered_ = false;
};

}  // namespace quorvel::testing
