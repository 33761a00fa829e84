#include "session/player_change_updates.h"

#include <utility>

namespace quorvel {

PlayerChangeUpdates::PlayerChangeUpdates(MediaPlayer& player, std::function<void()> update)
    : player_(player) {
  soon_.setSingleShot(true);
  soon_.setInterval(0);
  QObject::connect(&soon_, &QTimer::timeout, &soon_, std::move(update));
  const auto changed = [this] { soon_.start(); };
  player_.Watch(PlayerWatch{changed, changed});
}

PlayerChangeUpdates::~PlayerChangeUpdates() {
  player_.Watch({});
}

}  // namespace quorvel
