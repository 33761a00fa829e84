#include "settings/settings_table.h"

#include <charconv>
#include <span>
#include <type_traits>
#include <variant>

#include "wire/replace.h"

namespace quorvel {
namespace {

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kStoredLineBreak = "<BR>";

constexpr std::array<PrefKeyInfo, kPrefKeyCount> kInfo = {{
    {kPrefsSection, "port", PrefKind::kPort},
    {kPrefsSection, "minimize", PrefKind::kCheck},
    {kPrefsSection, "bind", PrefKind::kBind},
    {kKavoSection, "act", PrefKind::kAct},
    {kKavoSection, "profileact", PrefKind::kCheck},
    {kKavoSection, "awayact", PrefKind::kCheck},
    {kKavoSection, "awaypref", PrefKind::kAwayPref},
    {kKavoSection, "launchcheck", PrefKind::kCheck},
    {kKavoSection, "launchpath", PrefKind::kText},
    {kKavoSection, "updateT", PrefKind::kSpin},
    {kKavoSection, "limit", PrefKind::kCheck},
    {kKavoSection, "repBufferCheck", PrefKind::kCheck},
    {kKavoSection, "repBufferText", PrefKind::kText},
    {kKavoSection, "replaceII", PrefKind::kText},
    {kKavoSection, "replaceIIblock", PrefKind::kBlock},
    {kKavoSection, "artist", PrefKind::kText, 0},
    {kKavoSection, "song", PrefKind::kText, 1},
    {kKavoSection, "status", PrefKind::kText, 2},
    {kKavoSection, "time", PrefKind::kText, 3},
    {kKavoSection, "ttime", PrefKind::kText, 4},
    {kKavoSection, "artistF", PrefKind::kCase, 0},
    {kKavoSection, "songF", PrefKind::kCase, 1},
    {kKavoSection, "statusF", PrefKind::kCase, 2},
    {kKavoSection, "timeF", PrefKind::kCase, 3},
    {kKavoSection, "ttimeF", PrefKind::kCase, 4},
    {kKavoSection, "artistN", PrefKind::kText, 0},
    {kKavoSection, "songN", PrefKind::kText, 1},
    {kKavoSection, "statusN", PrefKind::kText, 2},
    {kKavoSection, "timeN", PrefKind::kText, 3},
    {kKavoSection, "ttimeN", PrefKind::kText, 4},
    {kKavoSection, "artistW", PrefKind::kText, 0},
    {kKavoSection, "songW", PrefKind::kText, 1},
    {kKavoSection, "statusW", PrefKind::kText, 2},
    {kKavoSection, "timeW", PrefKind::kText, 3},
    {kKavoSection, "ttimeW", PrefKind::kText, 4},
    {kKavoSection, "artistJ", PrefKind::kText, 0},
    {kKavoSection, "songJ", PrefKind::kText, 1},
    {kKavoSection, "statusJ", PrefKind::kText, 2},
    {kKavoSection, "timeJ", PrefKind::kText, 3},
    {kKavoSection, "ttimeJ", PrefKind::kText, 4},
}};

template <class P>
using Str = std::conditional_t<std::is_const_v<P>, const std::string, std::string>;
template <class P>
using Int = std::conditional_t<std::is_const_v<P>, const int, int>;
template <class P>
using Bool = std::conditional_t<std::is_const_v<P>, const bool, bool>;

// The field of `prefs` that holds `key`.
template <class P>
std::variant<Str<P>*, Int<P>*, Bool<P>*> Locate(P& prefs, PrefKey key) {
  const int field = InfoOf(key).field;
  auto column = [&](PrefKey first) { return static_cast<int>(key) - static_cast<int>(first); };
  if (field >= 0) {
    auto& f = prefs.fields[static_cast<std::size_t>(field)];
    if (column(PrefKey::kArtist) < kMediaFieldCount) return &f.token;
    if (column(PrefKey::kArtistF) < kMediaFieldCount) return &f.caseIndex;
    if (column(PrefKey::kArtistN) < kMediaFieldCount) return &f.length;
    if (column(PrefKey::kArtistW) < kMediaFieldCount) return &f.pad;
    return &f.justification;
  }
  switch (key) {
    case PrefKey::kPort:
      return &prefs.port;
    case PrefKey::kMinimize:
      return &prefs.minimize;
    case PrefKey::kBind:
      return &prefs.bind;
    case PrefKey::kAct:
      return &prefs.act;
    case PrefKey::kProfileact:
      return &prefs.profileact;
    case PrefKey::kAwayact:
      return &prefs.awayact;
    case PrefKey::kAwaypref:
      return &prefs.awayprefOwnMessage;
    case PrefKey::kLaunchcheck:
      return &prefs.launchcheck;
    case PrefKey::kLaunchpath:
      return &prefs.launchpath;
    case PrefKey::kUpdateT:
      return &prefs.updateT;
    case PrefKey::kLimit:
      return &prefs.limit;
    case PrefKey::kRepBufferCheck:
      return &prefs.repBufferCheck;
    case PrefKey::kRepBufferText:
      return &prefs.repBufferText;
    case PrefKey::kReplaceII:
      return &prefs.replaceII;
    default:
      return &prefs.replaceIIblock;
  }
}

// A whole decimal number (an optional '-' and digits only) from `low` to `high`.
std::optional<long long> ParseNumber(std::string_view text, long long low, long long high) {
  const bool negative = !text.empty() && text.front() == '-';
  const std::string_view digits = negative ? text.substr(1) : text;
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

struct Range {
  long long low;
  long long high;
};

Range RangeOf(PrefKind kind) {
  switch (kind) {
    case PrefKind::kCase:
      return {-1, 3};
    case PrefKind::kSpin:
      return {0, kSpinMax};
    case PrefKind::kPort:
      return {1, 65535};
    default:
      return {0, 2};
  }
}

std::string Refusal(const PrefKeyInfo& info, std::string_view text, std::string_view expected,
                    std::string_view kept) {
  constexpr std::size_t kShown = 40;
  const std::string shown =
      text.size() > kShown ? std::string(text.substr(0, kShown)) + "..." : std::string(text);
  return "[" + std::string(info.section) + "] " + std::string(info.name) + "=\"" + shown +
         "\" is not " + std::string(expected) + "; keeping " + std::string(kept);
}

void Load(std::span<const PrefKey> order, const IniDocument& ini, Preferences& prefs,
          std::vector<std::string>* warnings, const KeyApplied& applied) {
  for (PrefKey key : order) {
    const PrefKeyInfo& info = InfoOf(key);
    if (auto refusal = ApplyPrefText(prefs, key, ini.Get(info.section, info.name))) {
      if (warnings != nullptr) warnings->push_back(std::move(*refusal));
    }
    if (applied) applied(key);
  }
}

void Save(std::span<const PrefKey> order, const Preferences& prefs, IniDocument& ini,
          std::vector<std::string>* problems) {
  for (PrefKey key : order) {
    const PrefKeyInfo& info = InfoOf(key);
    if (!ini.Set(info.section, info.name, PrefText(prefs, key)) && problems != nullptr) {
      problems->push_back("[" + std::string(info.section) + "] " + std::string(info.name) +
                          ": the value holds a line break and cannot be stored; not changed");
    }
  }
}

}  // namespace

const PrefKeyInfo& InfoOf(PrefKey key) {
  return kInfo.at(static_cast<std::size_t>(key));
}

std::optional<std::string> ApplyPrefText(Preferences& prefs, PrefKey key,
                                         const std::optional<Bytes>& text) {
  const PrefKeyInfo& info = InfoOf(key);
  const auto target = Locate(prefs, key);
  const Bytes value = text.value_or(Bytes());
  switch (info.kind) {
    case PrefKind::kText:
      *std::get<std::string*>(target) = value;
      return std::nullopt;
    case PrefKind::kBlock:
      *std::get<std::string*>(target) = ReplaceAll(value, kStoredLineBreak, kLineBreak);
      return std::nullopt;
    case PrefKind::kAct:
      *std::get<int*>(target) = value == "1" ? 1 : 0;
      return std::nullopt;
    case PrefKind::kAwayPref:
      *std::get<bool*>(target) = value == "True";
      return std::nullopt;
    case PrefKind::kBind:
      if (!text) return std::nullopt;
      if (value.empty()) {
        return Refusal(info, value, "an address", *std::get<std::string*>(target));
      }
      *std::get<std::string*>(target) = value;
      return std::nullopt;
    case PrefKind::kPort: {
      if (!text) return std::nullopt;
      std::string& port = *std::get<std::string*>(target);
      const Range range = RangeOf(info.kind);
      if (!ParseNumber(value, range.low, range.high)) {
        return Refusal(info, value, "a port from 1 to 65535", port);
      }
      port = value;
      return std::nullopt;
    }
    case PrefKind::kCheck:
    case PrefKind::kCase:
    case PrefKind::kSpin: {
      if (!text) return std::nullopt;
      int& number = *std::get<int*>(target);
      const Range range = RangeOf(info.kind);
      const std::optional<long long> parsed = ParseNumber(value, range.low, range.high);
      if (!parsed) {
        return Refusal(info, value,
                       "a whole number from " + std::to_string(range.low) + " to " +
                           std::to_string(range.high),
                       std::to_string(number));
      }
      number = static_cast<int>(*parsed);
      return std::nullopt;
    }
  }
  return std::nullopt;
}

Bytes PrefText(const Preferences& prefs, PrefKey key) {
  const auto source = Locate(prefs, key);
  switch (InfoOf(key).kind) {
    case PrefKind::kBlock: {
      Bytes block = ReplaceAll(*std::get<const std::string*>(source), kLineBreak, kStoredLineBreak);
      block = ReplaceAll(block, "\n", kStoredLineBreak);
      return ReplaceAll(block, "\r", kStoredLineBreak);
    }
    case PrefKind::kAwayPref:
      return *std::get<const bool*>(source) ? "True" : "False";
    case PrefKind::kCheck:
    case PrefKind::kAct:
    case PrefKind::kCase:
    case PrefKind::kSpin:
      return std::to_string(*std::get<const int*>(source));
    default:
      return *std::get<const std::string*>(source);
  }
}

std::optional<std::uint16_t> PortNumber(const Preferences& prefs) {
  const Range range = RangeOf(PrefKind::kPort);
  if (const std::optional<long long> port = ParseNumber(prefs.port, range.low, range.high)) {
    return static_cast<std::uint16_t>(*port);
  }
  return std::nullopt;
}

void LoadKavoPrefs(const IniDocument& ini, Preferences& prefs, std::vector<std::string>* warnings,
                   const KeyApplied& applied) {
  Load(kKavoLoadOrder, ini, prefs, warnings, applied);
}

void LoadPrefs(const IniDocument& ini, Preferences& prefs, std::vector<std::string>* warnings,
               const KeyApplied& applied) {
  Load(kPrefsLoadOrder, ini, prefs, warnings, applied);
}

void SaveKavoPrefs(const Preferences& prefs, IniDocument& ini, std::vector<std::string>* problems) {
  Save(kKavoSaveOrder, prefs, ini, problems);
}

void SavePrefs(const Preferences& prefs, IniDocument& ini, std::vector<std::string>* problems) {
  Save(kPrefsSaveOrder, prefs, ini, problems);
}

}  // namespace quorvel
