#include "test_mpris_service.h"

#include <QAtomicInt>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QMetaObject>
#include <QVariantMap>

namespace quorvel::testing {

void TestMprisObject::Set(TestPlayerState state) {
  QMutexLocker lock(&mutex_);
  state_ = std::move(state);
}

int TestMprisObject::GetAllCalls() const {
  QMutexLocker lock(&mutex_);
  return getAllCalls_;
}

QString TestMprisObject::introspect(const QString&) const {
  return QStringLiteral(
      "<interface name=\"org.mpris.MediaPlayer2.Player\">"
      "<property name=\"PlaybackStatus\" type=\"s\" access=\"read\"/>"
      "<property name=\"Metadata\" type=\"a{sv}\" access=\"read\"/>"
      "<property name=\"Position\" type=\"x\" access=\"read\"/>"
      "</interface>");
}

bool TestMprisObject::handleMessage(const QDBusMessage& message,
                                    const QDBusConnection& connection) {
  if (message.interface() != QLatin1String("org.freedesktop.DBus.Properties") ||
      message.member() != QLatin1String("GetAll") || message.arguments().isEmpty()) {
    return false;
  }
  QMutexLocker lock(&mutex_);
  ++getAllCalls_;
  if (state_.silent) {
    return true;  // handled, but never answered
  }
  QVariantMap properties;
  const QString interface = message.arguments().constFirst().toString();
  if (interface == QLatin1String("org.mpris.MediaPlayer2.Player")) {
    QVariantMap metadata;
    if (!state_.artists.isEmpty()) metadata.insert(QStringLiteral("xesam:artist"), state_.artists);
    if (!state_.title.isEmpty()) metadata.insert(QStringLiteral("xesam:title"), state_.title);
    if (state_.lengthUs != 0) metadata.insert(QStringLiteral("mpris:length"), state_.lengthUs);
    metadata.insert(QStringLiteral("mpris:trackid"),
                    QVariant::fromValue(QDBusObjectPath(QStringLiteral("/test/track/1"))));
    properties.insert(QStringLiteral("PlaybackStatus"), state_.status);
    properties.insert(QStringLiteral("Metadata"), metadata);
    properties.insert(QStringLiteral("Position"), state_.positionUs);
    properties.insert(QStringLiteral("Volume"), 1.0);
  } else if (interface == QLatin1String("org.mpris.MediaPlayer2")) {
    properties.insert(QStringLiteral("Identity"), QStringLiteral("Test Player"));
  }
  connection.send(message.createReply(QVariant::fromValue(properties)));
  return true;
}

namespace {
QAtomicInt connectionCount;
}

ThreadedTestPlayer::ThreadedTestPlayer(QString busAddress, QString serviceName,
                                       TestPlayerState state)
    : address_(std::move(busAddress)),
      serviceName_(std::move(serviceName)),
      connectionName_(QStringLiteral("test-player-%1").arg(connectionCount.fetchAndAddOrdered(1))),
      object_(new TestMprisObject(std::move(state))) {
  // Qt registers its D-Bus types lazily on first use, which races when the first uses come from
  // several player threads at once; marshal a reply's types here first.
  QDBusArgument warmUp;
  warmUp << QVariantMap{{QStringLiteral("Metadata"),
                         QVariantMap{{QStringLiteral("xesam:artist"), QStringList()}}}};
  object_->moveToThread(this);
  start();
  registered_ = ready_.tryAcquire(1, 10000) && registered_;
}

ThreadedTestPlayer::~ThreadedTestPlayer() {
  // Queued to the player's own thread, so that it ends the event loop even if that loop has not
  // started yet.
  QMetaObject::invokeMethod(
      object_, [this] { exit(0); }, Qt::QueuedConnection);
  wait();
  delete object_;
}

void ThreadedTestPlayer::run() {
  QDBusConnection bus = QDBusConnection::connectToBus(address_, connectionName_);
  const bool ok = bus.isConnected() &&
                  bus.registerVirtualObject(QLatin1String(kMprisPath), object_) &&
                  bus.registerService(serviceName_);
  registered_ = ok;
  ready_.release();
  if (ok) {
    exec();
  }
  bus.unregisterService(serviceName_);
  bus.unregisterObject(QLatin1String(kMprisPath));
  QDBusConnection::disconnectFromBus(connectionName_);
}

}  // namespace quorvel::testing
