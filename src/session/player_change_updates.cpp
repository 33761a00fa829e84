#include "session/player_change_updates.h"

#include <utility>

namespace quorvel {

PlayerChangeUpdates::PlayerChangeUpdates(MediaPlayer& player, std::function<void()> update,
                                         PlayerWatch also)
    : player_(player) {
  soon_.setSingleShot(true);
  soon_.setInterval(0);
  QObject::connect(&soon_, &QTimer::timeout, &soon_, std::move(update));
  // Each change also starts the one update of its burst.
  const auto andUpdate = [this](std::function<void()> first) {
    return [this, first = std::move(first)] {
      if (first) first();
      soon_.start();
    };
  };
  player_.Watch(PlayerWatch{andUpdate(std::move(also.playersChanged)),
                            andUpdate(std::move(also.playbackChanged))});
}

PlayerChangeUpdates::~PlayerChangeUpdates() {
  player_.Watch({});
}

}  // namespace quorvel
