#include "media/mpris_player.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <QVariantMap>
#include <algorithm>
#include <utility>
#include <vector>

#include "media/time_text.h"

namespace quorvel {

namespace {

// More candidates than any desktop runs; the bound keeps a crowded bus from costing much.
constexpr int kMaxCandidates = 32;

std::string Utf8(const QString& text) {
  return text.toUtf8().toStdString();
}

bool NameMatches(const QString& suffix, const QString& wanted) {
  return wanted.isEmpty() || suffix == wanted || suffix.startsWith(wanted + QLatin1Char('.'));
}

// A D-Bus dictionary arrives either already demarshalled or as a QDBusArgument.
QVariantMap AsMap(const QVariant& value) {
  if (value.canConvert<QDBusArgument>()) {
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentType() == QDBusArgument::MapType) {
      return qdbus_cast<QVariantMap>(argument);
    }
    return {};
  }
  return value.toMap();
}

QStringList AsStringList(const QVariant& value) {
  if (value.canConvert<QDBusArgument>()) {
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentType() == QDBusArgument::ArrayType) {
      return qdbus_cast<QStringList>(argument);
    }
    return {};
  }
  if (value.metaType().id() == QMetaType::QString) {
    return {value.toString()};  // some players send a single artist as a plain string
  }
  return value.toStringList();
}

// A D-Bus integer of any width; other types give 0.
std::int64_t AsInteger(const QVariant& value) {
  bool ok = false;
  const qlonglong number = value.toLongLong(&ok);
  return ok ? number : 0;
}

int StatusCode(const QString& status) {
  if (status == QLatin1String("Playing")) return kPlayPlaying;
  if (status == QLatin1String("Paused")) return kPlayPaused;
  if (status == QLatin1String("Stopped")) return kPlayStopped;
  return -1;
}

PlayerSnapshot SnapshotOf(const QVariantMap& properties) {
  PlayerSnapshot snapshot;
  snapshot.found = true;
  snapshot.playStatus = StatusCode(properties.value(QStringLiteral("PlaybackStatus")).toString());
  // Position and length are in microseconds.
  snapshot.elapsedMs = AsInteger(properties.value(QStringLiteral("Position"))) / 1000;
  const QVariantMap metadata = AsMap(properties.value(QStringLiteral("Metadata")));
  snapshot.totalSeconds =
      ElapsedSeconds(AsInteger(metadata.value(QStringLiteral("mpris:length"))) / 1000);
  const QString artist =
      AsStringList(metadata.value(QStringLiteral("xesam:artist"))).join(QStringLiteral(", "));
  const QString title = metadata.value(QStringLiteral("xesam:title")).toString();
  if (!artist.isEmpty() || !title.isEmpty()) {
    snapshot.track = Track{Utf8(artist), Utf8(title)};
  }
  return snapshot;
}

// Playing first, then paused, then the rest.
int Rank(int status) {
  if (status == kPlayPlaying) return 0;
  if (status == kPlayPaused) return 1;
  return 2;
}

}  // namespace

MprisPlayer::MprisPlayer(QDBusConnection bus, QString playerName, int timeoutMs)
    : bus_(std::move(bus)), playerName_(std::move(playerName)), timeoutMs_(timeoutMs) {}

PlayerSnapshot MprisPlayer::Query() {
  const QString wanted = playerName_.isEmpty() ? QStringLiteral("player")
                                               : QStringLiteral("player \"%1\"").arg(playerName_);
  if (!bus_.isConnected()) {
    description_ = "MPRIS: no D-Bus session bus";
    return {};
  }

  const QDBusMessage list =
      bus_.call(QDBusMessage::createMethodCall(
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames")),
                QDBus::Block, timeoutMs_);
  if (list.type() != QDBusMessage::ReplyMessage || list.arguments().isEmpty()) {
    description_ = "MPRIS: the bus did not list its names (" + Utf8(list.errorMessage()) + ")";
    return {};
  }
  QStringList names;
  const QString prefix =
      QString::fromUtf8(kMprisPrefix.data(), static_cast<qsizetype>(kMprisPrefix.size()));
  for (const QString& name : list.arguments().constFirst().toStringList()) {
    if (name.startsWith(prefix) && NameMatches(name.mid(prefix.size()), playerName_)) {
      names.append(name);
    }
  }
  names.sort();
  if (names.size() > kMaxCandidates) {
    names.erase(names.begin() + kMaxCandidates, names.end());
  }
  if (names.isEmpty()) {
    description_ = "MPRIS: no " + Utf8(wanted) + " on the bus";
    return {};
  }

  // Ask every candidate at once, so that one slow player costs at most one timeout in all.
  std::vector<std::pair<QString, QDBusPendingCall>> calls;
  calls.reserve(static_cast<std::size_t>(names.size()));
  for (const QString& name : names) {
    QDBusMessage getAll = QDBusMessage::createMethodCall(
        name, QStringLiteral("/org/mpris/MediaPlayer2"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    getAll << QStringLiteral("org.mpris.MediaPlayer2.Player");
    calls.emplace_back(name, bus_.asyncCall(getAll, timeoutMs_));
  }

  PlayerSnapshot best;
  QString bestName;
  for (auto& [name, call] : calls) {
    call.waitForFinished();
    const QDBusMessage reply = call.reply();
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
      continue;  // gone, not answering in time, or not a player after all
    }
    PlayerSnapshot snapshot = SnapshotOf(AsMap(reply.arguments().constFirst()));
    if (!best.found || Rank(snapshot.playStatus) < Rank(best.playStatus)) {
      best = std::move(snapshot);
      bestName = name;
    }
  }
  if (!best.found) {
    description_ = "MPRIS: no answer within " + std::to_string(timeoutMs_) + " ms from " +
                   Utf8(names.join(QStringLiteral(", ")));
    return {};
  }
  description_ = "MPRIS: " + Utf8(bestName.mid(prefix.size())) + " (" + Utf8(bestName) + ")";
  return best;
}

std::unique_ptr<MediaPlayer> MakeSessionMprisPlayer(const QString& playerName) {
  return std::make_unique<MprisPlayer>(QDBusConnection::sessionBus(), playerName);
}

}  // namespace quorvel
