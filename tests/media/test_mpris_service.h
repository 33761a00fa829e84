#pragma once
// A media player for tests: answers the MPRIS player properties on its own bus connection and in
// its own thread (so that a test blocked on a call is still answered), or, when silent, keeps
// every call waiting for an answer that never comes. Gone from the bus once destroyed.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QThread>
#include <QUuid>
#include <QVariantMap>

namespace quorvel::testing {

struct TestPlayerState {
  QString status = "Playing";
  QStringList artists = {};
  QString title = {};
  qint64 positionUs = 0;
  qint64 lengthUs = 0;
  bool silent = false;
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
    QDBusConnection(connection_).unregisterService(service_);  // blocks: the name is gone on return
    QDBusConnection(connection_).unregisterObject(path_);
    QDBusConnection::disconnectFromBus(connection_);
    thread_.quit();  // ends the event loop even if it has not started yet
    thread_.wait();
  }
  bool Registered() const { return registered_; }

  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != "GetAll") return false;
    if (state_.silent) return true;  // handled, but never answered
    const QVariantMap metadata{{"xesam:artist", state_.artists},
                               {"xesam:title", state_.title},
                               {"mpris:length", state_.lengthUs}};
    const QVariantMap properties{
        {"PlaybackStatus", state_.status}, {"Position", state_.positionUs}, {"Metadata", metadata}};
    return connection.send(message.createReply(QVariant::fromValue(properties)));
  }

 private:
  const QString path_ = "/org/mpris/MediaPlayer2";
  const QString service_;
  const TestPlayerState state_;
  const QString connection_ = QUuid::createUuid().toString();
  QThread thread_;
  bool registered_ = false;
};

}  // namespace quorvel::testing
