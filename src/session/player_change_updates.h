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
  // after each burst of changes; `playersChanged`, when given, also runs whenever players come
  // or go. Stops watching when destroyed.
  PlayerChangeUpdates(MediaPlayer& player, std::function<void()> update,
                      std::function<void()> playersChanged = {});
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
