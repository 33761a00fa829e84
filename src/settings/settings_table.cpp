#include "settings/settings_table.h"

#include <array>
#include <charconv>

#include "wire/replace.h"

namespace quorvel {
namespace {

using K = SettingKind;
using M = MediaField;
constexpr std::string_view kKavo = kKavoSection;
constexpr std::string_view kPrefs = kPrefsSection;
// Keys that files written by older versions lack.
constexpr SaveRule kNew = SaveRule::kWhenHeldOrChanged;

// The Replace Continued block at first start: how to use it.
constexpr std::string_view kHelpBlock =
    "A Large Block Of Text<BR>Variables From 'Replace' Work For This<BR>"
    "Multiple Lines Will Show Up Properly In Your Profile / Away<BR>Example:<BR>"
    ":: %a - %s ::<BR>:: %p - %t // %x ::<BR>";

// In save order; the last column is the step in the load order.
constexpr std::array<Setting, 49> kSettings = {{
    {kKavo, "repBufferCheck", K::kCheck, "0", {&Preferences::bufferOn}, 35},
    {kKavo, "repBufferText", K::kText, "Text1", {&Preferences::bufferText}, 36},
    {kKavo, "replaceII", K::kText, "What You Want Replaced", {&Preferences::blockToken}, 6},
    {kKavo, "replaceIIblock", K::kBlock, kHelpBlock, {&Preferences::block}, 7},
    {kKavo, "profileact", K::kCheck, "1", {&Preferences::profileUpdates}, 8},
    {kKavo, "awayact", K::kCheck, "1", {&Preferences::awayUpdates}, 9},
    {kKavo, "awaypref", K::kAwayPref, "True", {&Preferences::awayUsesOwnMessage}, 10},
    {kKavo, "launchcheck", K::kCheck, "0", {&Preferences::launchAtStart}, 11},
    {kKavo, "launchpath", K::kText, "", {&Preferences::launchPath}, 12},
    {kKavo, "limit", K::kCheck, "0", {&Preferences::limitOnly}, 13},
    {kKavo, "artistJ", K::kText, "Center", {&FieldPrefs::justification, M::kArtist}, 2},
    {kKavo, "timeJ", K::kText, "Center", {&FieldPrefs::justification, M::kTime}, 5},
    {kKavo, "ttimeJ", K::kText, "Center", {&FieldPrefs::justification, M::kTotalTime}, 1},
    {kKavo, "songJ", K::kText, "Center", {&FieldPrefs::justification, M::kSong}, 3},
    {kKavo, "statusJ", K::kText, "Center", {&FieldPrefs::justification, M::kStatus}, 4},
    {kKavo, "artistW", K::kText, "_", {&FieldPrefs::pad, M::kArtist}, 14},
    {kKavo, "timeW", K::kText, "_", {&FieldPrefs::pad, M::kTime}, 17},
    {kKavo, "ttimeW", K::kText, "_", {&FieldPrefs::pad, M::kTotalTime}, 18},
    {kKavo, "songW", K::kText, "_", {&FieldPrefs::pad, M::kSong}, 15},
    {kKavo, "statusW", K::kText, "_", {&FieldPrefs::pad, M::kStatus}, 16},
    {kKavo, "artist", K::kText, "%a", {&FieldPrefs::token, M::kArtist}, 19},
    {kKavo, "song", K::kText, "%s", {&FieldPrefs::token, M::kSong}, 21},
    {kKavo, "time", K::kText, "%t", {&FieldPrefs::token, M::kTime}, 22},
    {kKavo, "ttime", K::kText, "%x", {&FieldPrefs::token, M::kTotalTime}, 23},
    {kKavo, "status", K::kText, "%p", {&FieldPrefs::token, M::kStatus}, 20},
    {kKavo, "artistN", K::kText, "0", {&FieldPrefs::length, M::kArtist}, 24},
    {kKavo, "timeN", K::kText, "0", {&FieldPrefs::length, M::kTime}, 27},
    {kKavo, "ttimeN", K::kText, "0", {&FieldPrefs::length, M::kTotalTime}, 28},
    {kKavo, "songN", K::kText, "0", {&FieldPrefs::length, M::kSong}, 26},
    {kKavo, "statusN", K::kText, "0", {&FieldPrefs::length, M::kStatus}, 25},
    {kKavo, "artistF", K::kCase, "0", {&FieldPrefs::caseIndex, M::kArtist}, 29},
    {kKavo, "timeF", K::kCase, "0", {&FieldPrefs::caseIndex, M::kTime}, 33},
    {kKavo, "ttimeF", K::kCase, "0", {&FieldPrefs::caseIndex, M::kTotalTime}, 31},
    {kKavo, "songF", K::kCase, "0", {&FieldPrefs::caseIndex, M::kSong}, 30},
    {kKavo, "statusF", K::kCase, "0", {&FieldPrefs::caseIndex, M::kStatus}, 32},
    {kKavo, "updateT", K::kSpin, "27767", {&Preferences::intervalSpin}, 34},  // 5000 ms
    {kKavo, "act", K::kAct, "1", {&Preferences::enabled}, 0},
    // The album's Replace row. After the keys that older files already hold.
    {kKavo, "album", K::kText, "%l", {&FieldPrefs::token, M::kAlbum}, 37, kNew},
    {kKavo, "albumF", K::kCase, "0", {&FieldPrefs::caseIndex, M::kAlbum}, 38, kNew},
    {kKavo, "albumN", K::kText, "0", {&FieldPrefs::length, M::kAlbum}, 39, kNew},
    {kKavo, "albumW", K::kText, "_", {&FieldPrefs::pad, M::kAlbum}, 40, kNew},
    {kKavo, "albumJ", K::kText, "Center", {&FieldPrefs::justification, M::kAlbum}, 41, kNew},
    {kPrefs, "port", K::kPort, "3131", {&Preferences::port}, 42},
    {kPrefs, "minimize", K::kCheck, "1", {&Preferences::minimizeToTray}, 43},
    // The listener's address: never every interface by default. After the keys that older files
    // already hold.
    {kPrefs, "bind", K::kBind, "127.0.0.1", {&Preferences::bindAddress}, 44, kNew},
    // The timer sends a profile or away frame only when it differs from the last one sent.
    {kPrefs, "sendOnChange", K::kTrueFalse, "True", {&Preferences::sendOnChange}, 45, kNew},
    // The media player read when several are present, and those never read.
    {kPrefs, "player", K::kText, "", {&Preferences::player}, 46, kNew},
    {kPrefs, "ignorePlayers", K::kText, "", {&Preferences::ignorePlayers}, 47, kNew},
    {kPrefs, "autostart", K::kTrueFalse, "False", {&Preferences::autostart}, 48, kNew},
}};

constexpr auto kLoadOrder = [] {
  std::array<const Setting*, kSettings.size()> order{};
  for (const Setting& setting : kSettings) {
    order.at(static_cast<std::size_t>(setting.loadStep)) = &setting;
  }
  return order;
}();

// The checks below run at compile time.

template <class T>
constexpr bool Holds(const SettingField& field) {
  return std::visit(
      [](auto member) {
        using Member = decltype(member);
        return std::is_same_v<Member, T Preferences::*> || std::is_same_v<Member, T FieldPrefs::*>;
      },
      field.member);
}

constexpr bool KindFitsMember(const Setting& setting) {
  switch (setting.kind) {
    case K::kText:
    case K::kBlock:
    case K::kPort:
    case K::kBind:
      return Holds<std::string>(setting.field);
    case K::kCheck:
    case K::kAct:
    case K::kCase:
    case K::kSpin:
      return Holds<int>(setting.field);
    case K::kAwayPref:
    case K::kTrueFalse:
      return Holds<bool>(setting.field);
  }
  return false;
}

constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

constexpr bool TableIsSound() {
  std::size_t kavoKeys = 0;
  for (const Setting& setting : kSettings) kavoKeys += setting.section == kKavo ? 1U : 0U;
  for (std::size_t i = 0; i < kSettings.size(); ++i) {
    const Setting& a = kSettings[i];
    if (!KindFitsMember(a)) return false;
    // The window sets the controls of "KAVO" first, then the interval, then those of "prefs".
    if ((a.section == kKavo) != (static_cast<std::size_t>(a.loadStep) < kavoKeys)) return false;
    for (std::size_t j = i + 1; j < kSettings.size(); ++j) {
      const Setting& b = kSettings[j];
      if (a.loadStep == b.loadStep || a.field == b.field ||
          (a.section == b.section && SameName(a.key, b.key))) {
        return false;
      }
    }
  }
  return true;
}
static_assert(TableIsSound(), "every setting needs its own key, member and load step");

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kStoredLineBreak = "<BR>";

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

Range RangeOf(SettingKind kind) {
  switch (kind) {
    case K::kCase:
      return {-1, 3};
    case K::kSpin:
      return {0, kSpinMax};
    case K::kPort:
      return {1, 65535};
    default:
      return {0, 2};
  }
}

std::string Refusal(const Setting& setting, std::string_view text, std::string_view expected,
                    std::string_view kept) {
  constexpr std::size_t kShown = 40;
  const std::string shown =
      text.size() > kShown ? std::string(text.substr(0, kShown)) + "..." : std::string(text);
  return "[" + std::string(setting.section) + "] " + std::string(setting.key) + "=\"" + shown +
         "\" is not " + std::string(expected) + "; keeping " + std::string(kept);
}

}  // namespace

Preferences::Preferences() {
  for (const Setting& setting : kSettings) {
    ApplySettingText(*this, setting, Bytes(setting.defaultText));
  }
}

std::span<const Setting> SettingTable() {
  return kSettings;
}

std::span<const Setting* const> LoadOrder() {
  return kLoadOrder;
}

const Setting* FindSetting(const SettingField& field) {
  for (const Setting& setting : kSettings) {
    if (setting.field == field) return &setting;
  }
  return nullptr;
}

std::optional<std::string> ApplySettingText(Preferences& prefs, const Setting& setting,
                                            const std::optional<Bytes>& text) {
  // A file from before the key existed keeps its default, and so saves without it.
  if (!text && setting.save == SaveRule::kWhenHeldOrChanged) return std::nullopt;
  const Bytes value = text.value_or(Bytes());
  switch (setting.kind) {
    case K::kText:
      ValueOf<std::string>(prefs, setting.field) = value;
      return std::nullopt;
    case K::kBlock:
      ValueOf<std::string>(prefs, setting.field) = ReplaceAll(value, kStoredLineBreak, kLineBreak);
      return std::nullopt;
    case K::kAct:
      ValueOf<int>(prefs, setting.field) = value == "1" ? 1 : 0;
      return std::nullopt;
    case K::kAwayPref:
      ValueOf<bool>(prefs, setting.field) = value == "True";
      return std::nullopt;
    case K::kTrueFalse: {
      if (!text) return std::nullopt;
      bool& flag = ValueOf<bool>(prefs, setting.field);
      if (value != "True" && value != "False") {
        return Refusal(setting, value, "True or False", flag ? "True" : "False");
      }
      flag = value == "True";
      return std::nullopt;
    }
    case K::kBind: {
      if (!text) return std::nullopt;
      std::string& address = ValueOf<std::string>(prefs, setting.field);
      if (value.empty()) return Refusal(setting, value, "an address", address);
      address = value;
      return std::nullopt;
    }
    case K::kPort: {
      if (!text) return std::nullopt;
      std::string& port = ValueOf<std::string>(prefs, setting.field);
      if (!ParsePort(value)) return Refusal(setting, value, "a port from 1 to 65535", port);
      port = value;
      return std::nullopt;
    }
    case K::kCheck:
    case K::kCase:
    case K::kSpin: {
      if (!text) return std::nullopt;
      int& number = ValueOf<int>(prefs, setting.field);
      const Range range = RangeOf(setting.kind);
      const std::optional<long long> parsed = ParseNumber(value, range.low, range.high);
      if (!parsed) {
        return Refusal(setting, value,
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

Bytes SettingText(const Preferences& prefs, const Setting& setting) {
  switch (setting.kind) {
    case K::kBlock: {
      Bytes block =
          ReplaceAll(ValueOf<std::string>(prefs, setting.field), kLineBreak, kStoredLineBreak);
      block = ReplaceAll(block, "\n", kStoredLineBreak);
      return ReplaceAll(block, "\r", kStoredLineBreak);
    }
    case K::kAwayPref:
    case K::kTrueFalse:
      return ValueOf<bool>(prefs, setting.field) ? "True" : "False";
    case K::kCheck:
    case K::kAct:
    case K::kCase:
    case K::kSpin:
      return std::to_string(ValueOf<int>(prefs, setting.field));
    case K::kText:
    case K::kPort:
    case K::kBind:
      return ValueOf<std::string>(prefs, setting.field);
  }
  return {};
}

void CopySetting(const Setting& setting, const Preferences& from, Preferences& to) {
  const SettingField& field = setting.field;
  if (Holds<std::string>(field)) {
    ValueOf<std::string>(to, field) = ValueOf<std::string>(from, field);
  } else if (Holds<int>(field)) {
    ValueOf<int>(to, field) = ValueOf<int>(from, field);
  } else {
    ValueOf<bool>(to, field) = ValueOf<bool>(from, field);
  }
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
  const Range range = RangeOf(K::kPort);
  if (const std::optional<long long> port = ParseNumber(text, range.low, range.high)) {
    return static_cast<std::uint16_t>(*port);
  }
  return std::nullopt;
}

void LoadSettings(const IniDocument& ini, Preferences& prefs, std::vector<std::string>* warnings) {
  for (const Setting* setting : kLoadOrder) {
    if (auto refusal = ApplySettingText(prefs, *setting, ini.Get(setting->section, setting->key))) {
      if (warnings != nullptr) warnings->push_back(std::move(*refusal));
    }
  }
}

bool SavesSetting(const Setting& setting, BytesView text, const IniDocument& ini) {
  return setting.save == SaveRule::kAlways || text != setting.defaultText ||
         ini.Get(setting.section, setting.key).has_value();
}

void SaveSettings(const Preferences& prefs, IniDocument& ini, std::vector<std::string>* problems) {
  for (const Setting& setting : kSettings) {
    const Bytes text = SettingText(prefs, setting);
    if (!SavesSetting(setting, text, ini)) continue;
    if (!ini.Set(setting.section, setting.key, text) && problems != nullptr) {
      problems->push_back("[" + std::string(setting.section) + "] " + std::string(setting.key) +
                          ": the value holds a line break and cannot be stored; not changed");
    }
  }
}

}  // namespace quorvel
