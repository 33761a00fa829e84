#include "gui/window_status.h"

#include "media/media_player.h"
#include "session/listener_report.h"
#include "wire/replace.h"

namespace quorvel {
namespace {

constexpr char kDash[] = " \u2013 ";  // between artist and song
constexpr char kDot[] = " \u00B7 ";   // between the parts of a line

std::string Clients(int clients) {
  if (clients == 0) return "no client connected";
  if (clients == 1) return "1 client connected";
  return std::to_string(clients) + " clients connected";
}

// "artist – song", or the one of them that is known; empty when neither is.
std::string Track(const PlayerFacts& player) {
  if (player.artist.empty() || player.song.empty()) return player.artist + player.song;
  return player.artist + kDash + player.song;
}

// What plays, without the player: "Band – Tune", "Band – Tune (paused)", or empty.
std::string Playing(const PlayerFacts& player) {
  const std::string track = Track(player);
  if (!player.found || track.empty()) return {};
  if (player.playStatus == kPlayPlaying) return track;
  if (player.playStatus == kPlayPaused) return track + " (paused)";
  return {};
}

// Tray hosts may read a tooltip that looks like markup as markup; a song's title comes from
// outside, so its angle brackets are shown as the look-alike single guillemets.
std::string WithoutMarkup(const std::string& text) {
  return ReplaceAll(ReplaceAll(text, "<", "\u2039"), ">", "\u203A");
}

}  // namespace

StatusLines DescribeStatus(const ListenerFacts& listener, const PlayerFacts& player) {
  StatusLines lines;
  const std::string endpoint = EndpointText(listener.address, listener.port);
  if (!listener.listening) {
    lines.alarming = true;
    lines.listener = "Not listening on " + endpoint;
    if (!listener.failure.empty()) {
      lines.listener +=
          ": " + listener.failure + ". Type another port under Preferences and press Enter";
    }
  } else {
    if (IsLoopbackAddress(listener.address)) {
      lines.listener = "Listening on " + endpoint;
    } else {
      lines.alarming = true;
      lines.listener = BeyondLoopbackWarning(listener.address, listener.port);
    }
    if (listener.portForThisRun) lines.listener += " (--port, for this run only)";
    lines.listener += kDot + Clients(listener.clients) + kDot +
                      (listener.screenName.empty() ? std::string("not signed on")
                                                   : "signed on as " + listener.screenName);
  }

  const std::string playing = Playing(player);
  if (!player.found) {
    lines.player = "Nothing playing: no media player found (" + player.description + ")";
  } else if (playing.empty()) {
    lines.player = "Nothing playing (" + player.description + ")";
  } else {
    lines.player = "Now playing: " + playing + " (" + player.description + ")";
  }
  return lines;
}

std::string TrayToolTip(const ListenerFacts& listener, const PlayerFacts& player) {
  std::string first = "Quorvel";
  const std::string endpoint = EndpointText(listener.address, listener.port);
  if (!listener.listening) {
    first += ": not listening on " + endpoint;
  } else {
    first += ": " + endpoint;
    if (!IsLoopbackAddress(listener.address)) first += " (open to other machines)";
    first += kDot + Clients(listener.clients);
  }
  const std::string playing = Playing(player);
  return WithoutMarkup(first + "\n" + (playing.empty() ? std::string("Nothing playing") : playing));
}

}  // namespace quorvel
