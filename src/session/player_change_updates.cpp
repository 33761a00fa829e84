#include "session/player_change_updates.h"

#include <utility>

namespace quorvel {

PlayerChangeUpdates::PlayerChangeUpdates(MediaPlayer& player, std::function<void()> update,
                                         std::function<void()> playersChanged)
    : player_(player) {
  soon_.setSingleShot(true);
  soon_.setInterval(0);
  QObject::connect(&soon_, &QTimer::timeout, &soon_, std::move(update));
  const auto changed = [this] { soon_.start(); };
  const auto cameOrWent = [this, listener = std::move(playersChanged)] {
    if (listener) listener();
    soon_.start();
  };
  player_.Watch(PlayerWatch{cameOrWent, changed});
}

PlayerChangeUpdates::~PlayerChangeUpdates() {
  player_.Watch({});
}

}  // namespace quorvel
