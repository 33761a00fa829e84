#include "media/mpris_player.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <algorithm>
#include <utility>

#include "media/mpris_properties.h"
#include "media/player_choice.h"

namespace quorvel {

namespace {

// More players than any desktop runs; the bound keeps a crowded bus from costing much.
constexpr int kMaxPlayers = 32;

const QString kPlayerPath = QStringLiteral("/org/mpris/MediaPlayer2");

bool IsIgnored(const QString& busName, const std::vector<std::string>& ignored) {
  const std::string bus = ToUtf8(busName);
  return std::any_of(ignored.begin(), ignored.end(),
                     [&](const std::string& name) { return PlayerNameMatches(bus, name); });
}

QDBusPendingCall AskAll(QDBusConnection& bus, const QString& busName, const QString& interfaceName,
                        int timeoutMs) {
  QDBusMessage getAll = QDBusMessage::createMethodCall(
      busName, kPlayerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("GetAll"));
  getAll << interfaceName;
  return bus.asyncCall(getAll, timeoutMs);
}

}  // namespace

MprisPlayer::MprisPlayer(QDBusConnection bus, PlayerChoice choice, QString onlyPlayer,
                         int timeoutMs)
    : bus_(std::move(bus)),
      choice_(std::move(choice)),
      onlyPlayer_(std::move(onlyPlayer)),
      timeoutMs_(timeoutMs) {}

std::optional<QStringList> MprisPlayer::PlayerNames(std::string& error) {
  if (!bus_.isConnected()) {
    const QString reason = bus_.lastError().message();
    error = "cannot reach the D-Bus session bus";
    if (!reason.isEmpty()) error += " (" + ToUtf8(reason) + ")";
    return std::nullopt;
  }
  const QDBusMessage list =
      bus_.call(QDBusMessage::createMethodCall(
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames")),
                QDBus::Block, timeoutMs_);
  if (list.type() != QDBusMessage::ReplyMessage || list.arguments().isEmpty()) {
    error = "the bus did not list its names (" + ToUtf8(list.errorMessage()) + ")";
    return std::nullopt;
  }
  QStringList names;
  const QString prefix = MprisPrefix();
  for (const QString& name : list.arguments().constFirst().toStringList()) {
    if (name.startsWith(prefix) && name.size() > prefix.size()) {
      names.append(name);
    }
  }
  names.sort();
  if (names.size() > kMaxPlayers) {
    names.erase(names.begin() + kMaxPlayers, names.end());
  }
  return names;
}

std::vector<PlayerInfo> MprisPlayer::AskPlayers(const QStringList& names, bool withIdentity) {
  // Ask every player at once, so that one slow player costs at most one timeout in all.
  const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
  const QString rootInterface = QStringLiteral("org.mpris.MediaPlayer2");
  std::vector<QDBusPendingCall> states;
  std::vector<QDBusPendingCall> identities;
  for (const QString& name : names) {
    states.push_back(AskAll(bus_, name, playerInterface, timeoutMs_));
    if (withIdentity) identities.push_back(AskAll(bus_, name, rootInterface, timeoutMs_));
  }
  std::vector<PlayerInfo> players;
  players.reserve(states.size());
  for (std::size_t i = 0; i < states.size(); ++i) {
    PlayerInfo player;
    player.busName = ToUtf8(names[static_cast<qsizetype>(i)]);
    states[i].waitForFinished();
    const QDBusMessage reply = states[i].reply();
    if (auto state = SnapshotOfReply(reply)) player.state = std::move(*state);
    if (withIdentity) {
      identities[i].waitForFinished();
      player.identity = IdentityOfReply(identities[i].reply());
    }
    players.push_back(std::move(player));
  }
  return players;
}

std::optional<std::size_t> MprisPlayer::Choose(const std::vector<PlayerInfo>& players) const {
  if (onlyPlayer_.isEmpty()) {
    return ChoosePlayer(players, choice_.preferred, choice_.ignored);
  }
  // The named player wins whenever present, so anything else chosen means it is absent.
  const std::string only = ToUtf8(onlyPlayer_);
  const auto chosen = ChoosePlayer(players, only, {});
  if (chosen && PlayerNameMatches(players[*chosen].busName, only)) {
    return chosen;
  }
  return std::nullopt;
}

PlayerSnapshot MprisPlayer::Query() {
  std::string error;
  const std::optional<QStringList> names = PlayerNames(error);
  if (!names) {
    description_ = "MPRIS: " + error;
    return {};
  }
  QStringList wanted;
  for (const QString& name : *names) {
    if (onlyPlayer_.isEmpty() ? !IsIgnored(name, choice_.ignored)
                              : PlayerNameMatches(ToUtf8(name), ToUtf8(onlyPlayer_))) {
      wanted.append(name);
    }
  }
  if (wanted.isEmpty()) {
    if (!onlyPlayer_.isEmpty()) {
      description_ = "MPRIS: no player \"" + ToUtf8(onlyPlayer_) + "\" on the bus";
    } else if (names->isEmpty()) {
      description_ = "MPRIS: no player on the bus";
    } else {
      description_ = "MPRIS: only ignored players on the bus (" +
                     ToUtf8(names->join(QStringLiteral(", "))) + ")";
    }
    return {};
  }

  const std::vector<PlayerInfo> candidates = AskPlayers(wanted, false);
  const std::optional<std::size_t> chosen = Choose(candidates);
  if (!chosen) {
    description_ = "MPRIS: no answer within " + std::to_string(timeoutMs_) + " ms from " +
                   ToUtf8(wanted.join(QStringLiteral(", ")));
    return {};
  }
  const PlayerInfo& player = candidates[*chosen];
  description_ =
      "MPRIS: " + std::string(ShortPlayerName(player.busName)) + " (" + player.busName + ")";
  return player.state;
}

PlayerList MprisPlayer::ListPlayers() {
  PlayerList list;
  const std::optional<QStringList> names = PlayerNames(list.error);
  if (names) {
    list.players = AskPlayers(*names, true);
    list.chosen = Choose(list.players);
  }
  return list;
}

std::unique_ptr<MediaPlayer> MakeSessionMprisPlayer(const PlayerChoice& choice,
                                                    const QString& onlyPlayer) {
  return std::make_unique<MprisPlayer>(QDBusConnection::sessionBus(), choice, onlyPlayer);
}

}  // namespace quorvel
