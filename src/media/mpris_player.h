#pragma once
// The media player as MPRIS (org.mpris.MediaPlayer2) on a D-Bus bus, normally the session bus.

#include <QDBusConnection>
#include <QString>
#include <memory>
#include <string>

#include "media/media_player.h"
#include "media/player_choice.h"

namespace quorvel {

class MprisPlayer final : public MediaPlayer {
 public:
  // `playerName` empty: any player, one that is playing preferred. Otherwise only the player of
  // that name: org.mpris.MediaPlayer2.<playerName>, or one of its instances
  // (org.mpris.MediaPlayer2.<playerName>.instance42). A player that does not answer within
  // `timeoutMs` counts as not found.
  MprisPlayer(QDBusConnection bus, QString playerName, int timeoutMs = 1000);

  // Lists the bus names (one call to the bus), then asks every candidate player for its
  // properties at once (one GetAll each, sent together) and waits at most `timeoutMs` for them.
  PlayerSnapshot Query() override;
  std::string Describe() const override { return description_; }

 private:
  QDBusConnection bus_;
  QString playerName_;
  int timeoutMs_;
  std::string description_ = "MPRIS: not asked yet";
};

// The MPRIS player on the session bus.
std::unique_ptr<MediaPlayer> MakeSessionMprisPlayer(const QString& playerName);

}  // namespace quorvel
