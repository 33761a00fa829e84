#pragma once
// The player backend that never finds a player: tokens are left out.

#include "media/media_player.h"

namespace quorvel {

class NonePlayer final : public MediaPlayer {
 public:
  PlayerSnapshot Query() override { return {}; }
  std::string Describe() const override { return "none"; }
};

}  // namespace quorvel
