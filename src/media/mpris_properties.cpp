#include "media/mpris_properties.h"

#include <QDBusArgument>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <cmath>

#include "media/player_choice.h"
#include "media/time_text.h"
#include "media/title_split.h"

namespace quorvel {

namespace {

// A D-Bus dictionary arrives either already demarshalled or as a QDBusArgument.
std::optional<QVariantMap> AsMap(const QVariant& value) {
  if (value.canConvert<QDBusArgument>()) {
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentType() == QDBusArgument::MapType) {
      return qdbus_cast<QVariantMap>(argument);
    }
    return std::nullopt;
  }
  if (value.metaType().id() == QMetaType::QVariantMap) {
    return value.toMap();
  }
  return std::nullopt;
}

// A string, and only a string: numbers and byte arrays are not read as text.
QString AsString(const QVariant& value) {
  return value.metaType().id() == QMetaType::QString ? value.toString() : QString();
}

QStringList AsStringList(const QVariant& value) {
  if (value.canConvert<QDBusArgument>()) {
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentType() == QDBusArgument::ArrayType &&
        argument.currentSignature() == QLatin1String("as")) {
      return qdbus_cast<QStringList>(argument);
    }
    return {};
  }
  if (value.metaType().id() == QMetaType::QStringList) {
    return value.toStringList();
  }
  return {AsString(value)};  // some players send a single artist as a plain string
}

// A D-Bus integer of any width (or a floating-point number); other types give 0.
std::int64_t AsInteger(const QVariant& value) {
  switch (value.metaType().id()) {
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
      bool ok = false;
      const qlonglong number = value.toLongLong(&ok);
      return ok ? number : 0;
    }
    case QMetaType::Double: {
      // Only a number that fits: converting any other to an integer is undefined.
      const double number = value.toDouble();
      return std::isfinite(number) && std::fabs(number) < 9.0e18 ? static_cast<std::int64_t>(number)
                                                                 : 0;
    }
    default:
      return 0;
  }
}

std::optional<QVariantMap> FirstMap(const QDBusMessage& reply) {
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    return std::nullopt;
  }
  return AsMap(reply.arguments().constFirst());
}

}  // namespace

QString MprisPrefix() {
  return QString::fromUtf8(kMprisPrefix.data(), static_cast<qsizetype>(kMprisPrefix.size()));
}

std::string ToUtf8(const QString& text) {
  return text.toUtf8().toStdString();
}

int PlayStatusCode(const QVariant& value) {
  const QString status = AsString(value);
  if (status == QLatin1String("Playing")) return kPlayPlaying;
  if (status == QLatin1String("Paused")) return kPlayPaused;
  if (status == QLatin1String("Stopped")) return kPlayStopped;
  return -1;
}

std::optional<PlayerSnapshot> SnapshotOfReply(const QDBusMessage& reply) {
  const std::optional<QVariantMap> properties = FirstMap(reply);
  if (!properties) {
    return std::nullopt;
  }
  PlayerSnapshot snapshot;
  snapshot.found = true;
  snapshot.playStatus = PlayStatusCode(properties->value(QStringLiteral("PlaybackStatus")));
  // Position and length are in microseconds.
  snapshot.elapsedMs = AsInteger(properties->value(QStringLiteral("Position"))) / 1000;
  const QVariantMap metadata =
      AsMap(properties->value(QStringLiteral("Metadata"))).value_or(QVariantMap());
  snapshot.totalSeconds =
      ElapsedSeconds(AsInteger(metadata.value(QStringLiteral("mpris:length"))) / 1000);
  TrackTags tags;
  tags.artist = ToUtf8(
      AsStringList(metadata.value(QStringLiteral("xesam:artist"))).join(QStringLiteral(", ")));
  tags.title = ToUtf8(AsString(metadata.value(QStringLiteral("xesam:title"))));
  tags.album = ToUtf8(AsString(metadata.value(QStringLiteral("xesam:album"))));
  tags.url = ToUtf8(AsString(metadata.value(QStringLiteral("xesam:url"))));
  snapshot.track = TrackFromTags(tags);
  return snapshot;
}

std::string IdentityOfReply(const QDBusMessage& reply) {
  const std::optional<QVariantMap> properties = FirstMap(reply);
  return properties ? ToUtf8(AsString(properties->value(QStringLiteral("Identity"))))
                    : std::string();
}

}  // namespace quorvel
