#pragma once
// Runs the profile and away updates as soon as the media player tells of a new track, a change
// of play state, or a player coming or going, instead of at the next tick of the update timer,
// which stays for players that tell nothing.

#include <QTimer>
#include <functional>

#include "media/media_player.h"

namespace quorvel {

class PlayerChangeUpdates {
 public:
  // Watches `player` (which must outlive this object) and calls `update` on the event loop once
  // after each burst of changes. The callbacks of `also`, those given, run at once on each
  // change of their kind, for whatever else follows the player. Stops watching when destroyed.
  PlayerChangeUpdates(MediaPlayer& player, std::function<void()> update, PlayerWatch also = {});
  ~PlayerChangeUpdates();
  PlayerChangeUpdates(const PlayerChangeUpdates&) = delete;
  PlayerChangeUpdates& operator=(const PlayerChangeUpdates&) = delete;

 private:
  MediaPlayer& player_;
  // A change of track and a player's arrival often come together: one update for both, run
  // outside the player's own notification.
  QTimer soon_;
};

}  // namespace quorvel
