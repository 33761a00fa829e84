#include "media/player_factory.h"

#include "media/none_player.h"
#include "wire/error.h"

#ifdef _WIN32
#include "media/winamp_player.h"
#else
#include "media/mpris_player.h"
#endif

namespace quorvel {

std::unique_ptr<MediaPlayer> MakeMediaPlayer(const PlayerOptions& options) {
  const std::string_view backend = options.backend;
  if (backend == "none") {
    return std::make_unique<NonePlayer>();
  }
#ifdef _WIN32
  if (backend.empty() || backend == "winamp") {
    return std::make_unique<WinampPlayer>();
  }
  throw Error("unknown media player \"" + options.backend +
              "\" (this build knows \"winamp\" and \"none\")");
#else
  if (backend == "winamp") {
    throw Error("the Winamp player backend exists on Windows only");
  }
  std::string_view name = backend;
  if (name == "mpris") {
    name = {};
  } else if (name.substr(0, 6) == "mpris:") {
    name.remove_prefix(6);
  }
  return MakeSessionMprisPlayer(
      options.choice, QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
#endif
}

std::unique_ptr<MediaPlayer> MakePlayerLister(const PlayerOptions& options) {
#ifdef _WIN32
  (void)options;
  throw Error("listing media players needs MPRIS, which this build does not have");
#else
  if (options.backend.empty() || options.backend == "none" || options.backend == "winamp") {
    return MakeMediaPlayer(PlayerOptions{"mpris", options.choice});
  }
  return MakeMediaPlayer(options);
#endif
}

std::unique_ptr<MediaPlayer> MakeMediaPlayer(std::string_view choice) {
  return MakeMediaPlayer(PlayerOptions{std::string(choice), {}});
}

}  // namespace quorvel
