#pragma once
// The media player as Winamp's main window (Windows only): found by its window class, read with
// window messages, its title parsed for artist and song.

#include <string>

#include "media/media_player.h"
#include "wire/bytes.h"

namespace quorvel {

class WinampPlayer final : public MediaPlayer {
 public:
  // A window that does not answer a message within `timeoutMs` counts as no player.
  explicit WinampPlayer(unsigned timeoutMs = 1000) : timeoutMs_(timeoutMs) {}

  // Finds the window afresh, then asks it for its title, play status, position and length.
  PlayerSnapshot Query() override;
  std::string Describe() const override { return description_; }

 private:
  unsigned timeoutMs_;
  std::string description_ = "Winamp: not asked yet";
};

// `text` in the ANSI code page of this system, as UTF-8.
Bytes AnsiToUtf8(BytesView text);

}  // namespace quorvel
