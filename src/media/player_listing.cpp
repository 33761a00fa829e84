#include "media/player_listing.h"

#include <cstdint>

#include "media/player_choice.h"
#include "media/time_text.h"

namespace quorvel {

namespace {

// `text` with C0 controls, DEL and C1 controls (U+0080 to U+009F) replaced by spaces.
Bytes Printable(BytesView text) {
  Bytes printable;
  printable.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint8_t byte = ByteAt(text, i);
    if (byte < 0x20 || byte == 0x7F) {
      printable += ' ';
    } else if (byte == 0xC2 && i + 1 < text.size() && ByteAt(text, i + 1) >= 0x80 &&
               ByteAt(text, i + 1) <= 0x9F) {
      printable += ' ';
      ++i;
    } else {
      printable += text[i];
    }
  }
  return printable;
}

}  // namespace

Bytes PlayerListLine(const PlayerInfo& player, bool chosen) {
  Bytes line = chosen ? "* " : "  ";
  line += ShortPlayerName(player.busName);
  if (!player.identity.empty()) {
    line += " (" + player.identity + ")";
  }
  line += ": ";
  const PlayerSnapshot& state = player.state;
  if (!state.found) {
    return Printable(line + "no answer");
  }
  const Bytes status = PlayStatusText(state.playStatus);
  line += status.empty() ? "unknown state" : status;
  if (state.track) {
    const Track& track = *state.track;
    const char* const dash = "\xE2\x80\x93";  // en dash
    line += ", " + track.artist;
    if (!track.artist.empty() && !track.song.empty()) {
      line += std::string(" ") + dash + " ";
    }
    line += track.song;
  }
  return Printable(line);
}

}  // namespace quorvel
