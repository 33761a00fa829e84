#include "media/mpris_player.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <algorithm>
#include <utility>

#include "media/mpris_properties.h"
#include "media/mpris_watcher.h"
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

MprisPlayer::~MprisPlayer() = default;

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
    if (auto state = SnapshotOfReply(reply)) {
      player.state = std::move(*state);
      // A reply comes from the player's connection, which its later signals name.
      busNameOfOwner_.insert(reply.service(), names[static_cast<qsizetype>(i)]);
    }
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
  candidates_.clear();
  chosenBusName_.clear();
  busNameOfOwner_.clear();
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

  candidates_ = AskPlayers(wanted, false);
  const std::optional<std::size_t> chosen = Choose(candidates_);
  if (!chosen) {
    description_ = "MPRIS: no answer within " + std::to_string(timeoutMs_) + " ms from " +
                   ToUtf8(wanted.join(QStringLiteral(", ")));
    return {};
  }
  const PlayerInfo& player = candidates_[*chosen];
  chosenBusName_ = player.busName;
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

void MprisPlayer::Watch(PlayerWatch watch) {
  watcher_.reset();
  if (!watch.playersChanged && !watch.playbackChanged) {
    return;
  }
  // A player's connection has a unique name that is never used again, so the names the last query
  // saw stay true while the watch runs; a player that comes later is told of as it arrives.
  const auto matters = [this](const QString& owner, std::optional<int> newStatus) {
    return ChangeMatters(owner, newStatus);
  };
  watcher_ = std::make_unique<MprisWatcher>(bus_, std::move(watch), matters);
}

bool MprisPlayer::ChangeMatters(const QString& owner, std::optional<int> newStatus) {
  const auto known = busNameOfOwner_.constFind(owner);
  if (known == busNameOfOwner_.constEnd()) {
    return false;  // not a player the last query saw; its arrival was told already
  }
  const std::string busName = ToUtf8(*known);
  const auto player = std::find_if(candidates_.begin(), candidates_.end(),
                                   [&](const PlayerInfo& p) { return p.busName == busName; });
  if (player == candidates_.end()) {
    return false;  // ignored, or not the named player
  }
  if (newStatus) player->state.playStatus = *newStatus;
  if (busName == chosenBusName_) {
    return true;
  }
  // Another player's new state may make it the one to read.
  if (!newStatus) {
    return false;
  }
  const std::optional<std::size_t> chosen = Choose(candidates_);
  return (chosen ? candidates_[*chosen].busName : std::string()) != chosenBusName_;
}

std::unique_ptr<MediaPlayer> MakeSessionMprisPlayer(const PlayerChoice& choice,
                                                    const QString& onlyPlayer) {
  return std::make_unique<MprisPlayer>(QDBusConnection::sessionBus(), choice, onlyPlayer);
}

}  // namespace quorvel
