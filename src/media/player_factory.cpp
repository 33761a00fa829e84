#include "media/player_factory.h"

#include <string>

#include "media/none_player.h"
#include "wire/error.h"

#ifdef _WIN32
#include "media/winamp_player.h"
#else
#include "media/mpris_player.h"
#endif

namespace quorvel {

std::unique_ptr<MediaPlayer> MakeMediaPlayer(std::string_view choice) {
  if (choice == "none") {
    return std::make_unique<NonePlayer>();
  }
#ifdef _WIN32
  if (choice.empty() || choice == "winamp") {
    return std::make_unique<WinampPlayer>();
  }
  throw Error("unknown media player \"" + std::string(choice) +
              "\" (this build knows \"winamp\" and \"none\")");
#else
  if (choice == "winamp") {
    throw Error("the Winamp player backend exists on Windows only");
  }
  std::string_view name = choice;
  if (name == "mpris") {
    name = {};
  } else if (name.substr(0, 6) == "mpris:") {
    name.remove_prefix(6);
  }
  return MakeSessionMprisPlayer(
      QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
#endif
}

}  // namespace quorvel
