#pragma once
// The media player as MPRIS (org.mpris.MediaPlayer2) on a D-Bus bus, normally the session bus.

#include <QDBusConnection>
#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/media_player.h"

namespace quorvel {

class MprisWatcher;

inline constexpr int kMprisTimeoutMs = 1000;

class MprisPlayer final : public MediaPlayer {
 public:
  // Reads the player that `choice` picks among those on `bus` (see ChoosePlayer). A non-empty
  // `onlyPlayer` overrides the choice: then only the player of that name is read, or one of its
  // instances, and no other even when it is absent. A player that does not answer within
  // `timeoutMs` counts as absent.
  MprisPlayer(QDBusConnection bus, PlayerChoice choice, QString onlyPlayer = {},
              int timeoutMs = kMprisTimeoutMs);
  ~MprisPlayer() override;

  // Lists the bus names (one call to the bus), then asks every candidate player for its
  // properties at once (one GetAll each, sent together) and waits at most `timeoutMs` for them.
  PlayerSnapshot Query() override;
  std::string Describe() const override { return description_; }

  void SetChoice(const PlayerChoice& choice) override { choice_ = choice; }
  // Every MPRIS player on the bus with its identity, ignored ones included, asked all at once.
  PlayerList ListPlayers() override;
  // Players coming and going, and changes of the chosen player's track or play state, or of
  // another player's state that changes the choice, as of the last Query(). Needs an event loop.
  void Watch(PlayerWatch watch) override;

 private:
  std::optional<QStringList> PlayerNames(std::string& error);
  std::vector<PlayerInfo> AskPlayers(const QStringList& names, bool withIdentity);
  std::optional<std::size_t> Choose(const std::vector<PlayerInfo>& players) const;
  bool ChangeMatters(const QString& owner, std::optional<int> newStatus);

  QDBusConnection bus_;
  PlayerChoice choice_;
  QString onlyPlayer_;
  int timeoutMs_;
  std::string description_ = "MPRIS: not asked yet";

  // What the last Query() saw, for telling which later changes matter.
  std::vector<PlayerInfo> candidates_;
  std::string chosenBusName_;
  QHash<QString, QString> busNameOfOwner_;  // unique connection name -> player's bus name
  std::unique_ptr<MprisWatcher> watcher_;
};

// The MPRIS player on the session bus.
std::unique_ptr<MediaPlayer> MakeSessionMprisPlayer(const PlayerChoice& choice,
                                                    const QString& onlyPlayer = {});

}  // namespace quorvel
