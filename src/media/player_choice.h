#pragma once
// Which player to read when several are present, and how player names are written and matched.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "media/media_player.h"
#include "wire/bytes.h"

namespace quorvel {

// Every MPRIS player owns a bus name that starts with this.
inline constexpr std::string_view kMprisPrefix = "org.mpris.MediaPlayer2.";

// The player's own part of a bus name ("vlc.instance7"); a name without the prefix unchanged.
std::string_view ShortPlayerName(std::string_view busName);

// The name a player goes by whatever its instance: its short name less an instance part
// ("vlc.instance7" and "org.mpris.MediaPlayer2.vlc" both give "vlc").
std::string_view PlayerNameWithoutInstance(std::string_view busName);

// Whether the player `busName` goes by `name`: its short name is `name`, or an instance of it
// ("vlc" matches "vlc" and "vlc.instance1234", never "vlcx"). Either may be written with or
// without the MPRIS prefix; letters match in either case. An empty name matches nothing.
bool PlayerNameMatches(std::string_view busName, std::string_view name);

// The names of a comma-separated list ("firefox, chromium"): blanks around each name dropped,
// empty names skipped.
std::vector<std::string> ParsePlayerNames(BytesView list);

// The player to read among `players`, or nothing. Players that did not answer and ignored ones
// are never chosen. A preferred player that is present wins whatever its state; otherwise, and
// without a preference, a playing player comes first, then a paused one, then any other. Among
// players alike, the one whose bus name sorts first wins, whatever the order of `players`.
std::optional<std::size_t> ChoosePlayer(const std::vector<PlayerInfo>& players,
                                        std::string_view preferred,
                                        const std::vector<std::string>& ignored);

}  // namespace quorvel
