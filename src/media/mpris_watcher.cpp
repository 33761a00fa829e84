#include "media/mpris_watcher.h"

#include <utility>

#include "media/mpris_properties.h"

namespace quorvel {

namespace {

const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kPropertiesChanged = QStringLiteral("PropertiesChanged");
const char* const kSlot =
    SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList, QDBusMessage));

// Every name under the MPRIS prefix ("org.mpris.MediaPlayer2*" watches that namespace).
QString PlayerNamespace() {
  QString prefix = MprisPrefix();
  prefix.chop(1);  // the final dot
  return prefix + QLatin1Char('*');
}

void CallOnTimeout(QTimer& timer, std::function<void()> call) {
  timer.setSingleShot(true);
  timer.setInterval(kChangeDelayMs);
  if (call) QObject::connect(&timer, &QTimer::timeout, std::move(call));
}

}  // namespace

MprisWatcher::MprisWatcher(QDBusConnection bus, PlayerWatch watch, Filter filter)
    : bus_(std::move(bus)),
      filter_(std::move(filter)),
      services_(PlayerNamespace(), bus_, QDBusServiceWatcher::WatchForOwnerChange) {
  CallOnTimeout(playersTimer_, std::move(watch.playersChanged));
  CallOnTimeout(playbackTimer_, std::move(watch.playbackChanged));
  connect(&services_, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] {
    if (!playersTimer_.isActive()) playersTimer_.start();
  });
  // From every sender: the players are told apart by their connection, which the filter knows.
  bus_.connect(QString(), kPath, kPropertiesInterface, kPropertiesChanged, this, kSlot);
}

MprisWatcher::~MprisWatcher() {
  bus_.disconnect(QString(), kPath, kPropertiesInterface, kPropertiesChanged, this, kSlot);
}

void MprisWatcher::OnPropertiesChanged(const QString& interfaceName, const QVariantMap& changed,
                                       const QStringList& invalidated,
                                       const QDBusMessage& message) {
  if (interfaceName != QLatin1String("org.mpris.MediaPlayer2.Player")) {
    return;
  }
  const QString metadata = QStringLiteral("Metadata");
  const QString status = QStringLiteral("PlaybackStatus");
  const bool trackChanged = changed.contains(metadata) || invalidated.contains(metadata);
  const bool statusChanged = changed.contains(status) || invalidated.contains(status);
  if (!trackChanged && !statusChanged) {
    return;  // volume, rate, shuffle ...: nothing the profile shows
  }
  const std::optional<int> newStatus =
      statusChanged ? std::optional<int>(PlayStatusCode(changed.value(status))) : std::nullopt;
  if (filter_ && !filter_(message.service(), newStatus)) {
    return;
  }
  if (!playbackTimer_.isActive()) playbackTimer_.start();
}

}  // namespace quorvel
