#include "media/player_choice.h"

#include <algorithm>
#include <tuple>

namespace quorvel {

namespace {

constexpr std::string_view kBlanks = " \t";

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

// Playing first, then paused, then the rest.
int Rank(int playStatus) {
  if (playStatus == kPlayPlaying) return 0;
  if (playStatus == kPlayPaused) return 1;
  return 2;
}

bool Ignored(const PlayerInfo& player, const std::vector<std::string>& ignored) {
  return std::any_of(ignored.begin(), ignored.end(), [&](const std::string& name) {
    return PlayerNameMatches(player.busName, name);
  });
}

}  // namespace

std::string_view ShortPlayerName(std::string_view busName) {
  if (busName.size() > kMprisPrefix.size() &&
      SameLetters(busName.substr(0, kMprisPrefix.size()), kMprisPrefix)) {
    busName.remove_prefix(kMprisPrefix.size());
  }
  return busName;
}

std::string_view PlayerNameWithoutInstance(std::string_view busName) {
  const std::string_view name = ShortPlayerName(busName);
  const std::size_t instance = name.find(".instance");
  return instance == 0 ? name : name.substr(0, instance);
}

bool PlayerNameMatches(std::string_view busName, std::string_view name) {
  const std::string_view have = ShortPlayerName(busName);
  const std::string_view want = ShortPlayerName(name);
  if (want.empty() || have.size() < want.size()) {
    return false;
  }
  return SameLetters(have.substr(0, want.size()), want) &&
         (have.size() == want.size() || have[want.size()] == '.');
}

std::vector<std::string> ParsePlayerNames(BytesView list) {
  std::vector<std::string> names;
  while (!list.empty()) {
    const std::size_t comma = std::min(list.find(','), list.size());
    BytesView name = list.substr(0, comma);
    list.remove_prefix(std::min(comma + 1, list.size()));
    name.remove_prefix(std::min(name.find_first_not_of(kBlanks), name.size()));
    name.remove_suffix(name.size() - (name.find_last_not_of(kBlanks) + 1));
    if (!name.empty()) {
      names.emplace_back(name);
    }
  }
  return names;
}

std::optional<std::size_t> ChoosePlayer(const std::vector<PlayerInfo>& players,
                                        std::string_view preferred,
                                        const std::vector<std::string>& ignored) {
  // The key of a candidate: not the preferred one, its rank, its bus name; the smallest wins.
  using Key = std::tuple<bool, int, std::string_view>;
  std::optional<std::size_t> best;
  Key bestKey;
  for (std::size_t i = 0; i < players.size(); ++i) {
    const PlayerInfo& player = players[i];
    if (!player.state.found || Ignored(player, ignored)) {
      continue;
    }
    const Key key{!PlayerNameMatches(player.busName, preferred), Rank(player.state.playStatus),
                  player.busName};
    if (!best || key < bestKey) {
      best = i;
      bestKey = key;
    }
  }
  return best;
}

}  // namespace quorvel
