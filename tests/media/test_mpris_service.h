#pragma once
// A media player for tests: answers the MPRIS properties on its own bus connection and in its own
// thread (so that a test blocked on a call is still answered), or, when silent, keeps every call
// waiting for an answer that never comes. Gone from the bus once destroyed.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QThread>
#include <QUuid>
#include <QVariantMap>

namespace quorvel::testing {

struct TestPlayerState {
  QString status = "Playing";
  QStringList artists = {};
  QString title = {};
  qint64 positionUs = 0, lengthUs = 0;
  bool silent = false;
  QString album = {}, identity = {};
  QVariant reply = {};  // when valid, sent instead of the player's properties (wrong types)
  bool leaves = false;  // leaves the bus instead of answering
};

class ThreadedTestPlayer : public QDBusVirtualObject {
 public:
  ThreadedTestPlayer(const QString& busAddress, const QString& serviceName, TestPlayerState state)
      : service_(serviceName), state_(std::move(state)) {
    // Qt registers its D-Bus types on first use, which races when several player threads answer
    // at once; marshal a reply's types here first.
    QDBusArgument warmUp;
    warmUp << QVariantMap{{"Metadata", QVariantMap{{"xesam:artist", QStringList()}}}};
    moveToThread(&thread_);
    thread_.start();
    QDBusConnection bus = QDBusConnection::connectToBus(busAddress, connection_);
    registered_ = bus.registerVirtualObject(path_, this) && bus.registerService(service_);
  }
  ~ThreadedTestPlayer() override {
    thread_.quit();  // ends the event loop even if it has not started yet
    thread_.wait();  // and with it any departure still queued
    QDBusConnection bus(connection_);
    if (bus.isConnected()) {
      bus.unregisterService(service_);  // blocks: the name is gone on return
      bus.unregisterObject(path_);
    }
    QDBusConnection::disconnectFromBus(connection_);
  }
  bool Registered() const { return registered_; }

  void Set(TestPlayerState state) {
    const QMutexLocker lock(&mutex_);
    state_ = std::move(state);
  }
  // Signals that the player's properties in `changed` (and `invalidated`) changed.
  void EmitChanged(const QVariantMap& changed, const QStringList& invalidated = {},
                   const QString& interfaceName = "org.mpris.MediaPlayer2.Player") {
    QDBusMessage signal =
        QDBusMessage::createSignal(path_, "org.freedesktop.DBus.Properties", "PropertiesChanged");
    signal << interfaceName << changed << invalidated;
    QDBusConnection(connection_).send(signal);
  }

  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != "GetAll") return false;
    const QMutexLocker lock(&mutex_);
    if (state_.silent) return true;  // handled, but never answered
    if (state_.leaves) {
      // Gone once this call has been taken: the caller is told that no answer will come.
      QMetaObject::invokeMethod(
          this, [name = connection_] { QDBusConnection::disconnectFromBus(name); },
          Qt::QueuedConnection);
      return true;
    }
    if (message.arguments().value(0).toString() == "org.mpris.MediaPlayer2") {
      return connection.send(
          message.createReply(QVariant::fromValue(QVariantMap{{"Identity", state_.identity}})));
    }
    if (state_.reply.isValid()) return connection.send(message.createReply(state_.reply));
    const QVariantMap metadata{{"xesam:artist", state_.artists},
                               {"xesam:title", state_.title},
                               {"xesam:album", state_.album},
                               {"mpris:length", state_.lengthUs}};
    const QVariantMap properties{
        {"PlaybackStatus", state_.status}, {"Position", state_.positionUs}, {"Metadata", metadata}};
    return connection.send(message.createReply(QVariant::fromValue(properties)));
  }

 private:
  const QString path_ = "/org/mpris/MediaPlayer2", service_;
  QMutex mutex_;
  TestPlayerState state_;
  const QString connection_ = QUuid::createUuid().toString();
  QThread thread_;
  bool registered_ = false;
};

}  // namespace quorvel::testing
