#pragma once
// The keys of prefs.ini: which Preferences field each one holds, how it is written and read back,
// and the orders in which the two sections are loaded and saved.
//
// How a front end applies loaded values in order: a window whose controls react to changes (the
// port box restarts the listener, the enable box enables other controls ...) passes a KeyApplied
// callback to LoadKavoPrefs and then LoadPrefs. Each routine reads its section's keys in the order
// of kKavoLoadOrder / kPrefsLoadOrder, stores each value in the Preferences (or keeps the current
// value when the file's text is refused), and then calls the callback with that key, so the
// window sets the one control that holds it from the Preferences and lets its reaction run before
// the next key is read. For kAwaypref the window sets the first option button and then the
// second; for kUpdateT it sets the spin control, and after LoadKavoPrefs returns it sets the
// interval box and the timer from IntervalMs(). With no file, nothing is read and no callback
// runs: the controls keep their defaults. A front end without controls passes no callback and
// uses the Preferences directly.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ini_document.h"
#include "settings/preferences.h"

namespace quorvel {

inline constexpr std::string_view kKavoSection = "KAVO";
inline constexpr std::string_view kPrefsSection = "prefs";

enum class PrefKey : int {
  // Section "prefs".
  kPort,
  kMinimize,
  kBind,
  // Section "KAVO".
  kAct,
  kProfileact,
  kAwayact,
  kAwaypref,
  kLaunchcheck,
  kLaunchpath,
  kUpdateT,
  kLimit,
  kRepBufferCheck,
  kRepBufferText,
  kReplaceII,
  kReplaceIIblock,
  // The Replace page, five keys per media field, fields in MediaField order.
  kArtist,
  kSong,
  kStatus,
  kTime,
  kTtime,  // token
  kArtistF,
  kSongF,
  kStatusF,
  kTimeF,
  kTtimeF,  // case
  kArtistN,
  kSongN,
  kStatusN,
  kTimeN,
  kTtimeN,  // length
  kArtistW,
  kSongW,
  kStatusW,
  kTimeW,
  kTtimeW,  // pad text
  kArtistJ,
  kSongJ,
  kStatusJ,
  kTimeJ,
  kTtimeJ,  // justification
};
inline constexpr std::size_t kPrefKeyCount = static_cast<std::size_t>(PrefKey::kTtimeJ) + 1;

// How a key's text is written and read back.
enum class PrefKind {
  kText,      // the text as it stands
  kBlock,     // the Replace Continued block: line breaks stored as "<BR>"
  kCheck,     // check box value 0 to 2 in decimal
  kAct,       // check box value; checked on load only by exactly "1"
  kAwayPref,  // "True" or "False"; only exactly "True" loads as true
  kCase,      // list position -1 to 3 in decimal
  kSpin,      // spin position 0 to 32767 in decimal
  kPort,      // a port 1 to 65535, kept as typed
  kBind,      // an address; a missing or empty key keeps the default
};

struct PrefKeyInfo {
  std::string_view section;
  std::string_view name;
  PrefKind kind;
  int field = -1;  // the media field of a Replace page key, else -1
};

const PrefKeyInfo& InfoOf(PrefKey key);

inline constexpr std::array<PrefKey, 37> kKavoLoadOrder = {
    PrefKey::kAct,          PrefKey::kTtimeJ,  PrefKey::kArtistJ,   PrefKey::kSongJ,
    PrefKey::kStatusJ,      PrefKey::kTimeJ,   PrefKey::kReplaceII, PrefKey::kReplaceIIblock,
    PrefKey::kProfileact,   PrefKey::kAwayact, PrefKey::kAwaypref,  PrefKey::kLaunchcheck,
    PrefKey::kLaunchpath,   PrefKey::kLimit,   PrefKey::kArtistW,   PrefKey::kSongW,
    PrefKey::kStatusW,      PrefKey::kTimeW,   PrefKey::kTtimeW,    PrefKey::kArtist,
    PrefKey::kStatus,       PrefKey::kSong,    PrefKey::kTime,      PrefKey::kTtime,
    PrefKey::kArtistN,      PrefKey::kStatusN, PrefKey::kSongN,     PrefKey::kTimeN,
    PrefKey::kTtimeN,       PrefKey::kArtistF, PrefKey::kSongF,     PrefKey::kTtimeF,
    PrefKey::kStatusF,      PrefKey::kTimeF,   PrefKey::kUpdateT,   PrefKey::kRepBufferCheck,
    PrefKey::kRepBufferText};

inline constexpr std::array<PrefKey, 37> kKavoSaveOrder = {PrefKey::kRepBufferCheck,
                                                           PrefKey::kRepBufferText,
                                                           PrefKey::kReplaceII,
                                                           PrefKey::kReplaceIIblock,
                                                           PrefKey::kProfileact,
                                                           PrefKey::kAwayact,
                                                           PrefKey::kAwaypref,
                                                           PrefKey::kLaunchcheck,
                                                           PrefKey::kLaunchpath,
                                                           PrefKey::kLimit,
                                                           PrefKey::kArtistJ,
                                                           PrefKey::kTimeJ,
                                                           PrefKey::kTtimeJ,
                                                           PrefKey::kSongJ,
                                                           PrefKey::kStatusJ,
                                                           PrefKey::kArtistW,
                                                           PrefKey::kTimeW,
                                                           PrefKey::kTtimeW,
                                                           PrefKey::kSongW,
                                                           PrefKey::kStatusW,
                                                           PrefKey::kArtist,
                                                           PrefKey::kSong,
                                                           PrefKey::kTime,
                                                           PrefKey::kTtime,
                                                           PrefKey::kStatus,
                                                           PrefKey::kArtistN,
                                                           PrefKey::kTimeN,
                                                           PrefKey::kTtimeN,
                                                           PrefKey::kSongN,
                                                           PrefKey::kStatusN,
                                                           PrefKey::kArtistF,
                                                           PrefKey::kTimeF,
                                                           PrefKey::kTtimeF,
                                                           PrefKey::kSongF,
                                                           PrefKey::kStatusF,
                                                           PrefKey::kUpdateT,
                                                           PrefKey::kAct};

// "bind" comes after the two keys that older files already hold.
inline constexpr std::array<PrefKey, 3> kPrefsLoadOrder = {PrefKey::kPort, PrefKey::kMinimize,
                                                           PrefKey::kBind};
inline constexpr std::array<PrefKey, 3> kPrefsSaveOrder = kPrefsLoadOrder;

// Stores the file's text for `key` (nothing: the key is missing) in `prefs`. A missing text key
// stores the empty text; a missing numeric key, and a text that is not a whole number in the
// key's range, keep the current value. Returns a description of a refused value, or nothing.
std::optional<std::string> ApplyPrefText(Preferences& prefs, PrefKey key,
                                         const std::optional<Bytes>& text);

// The text written for `key`. The block's line breaks (CR LF, and a lone CR or LF too, which the
// file could not hold) become "<BR>".
Bytes PrefText(const Preferences& prefs, PrefKey key);

// The listening port that `prefs.port` names, or nothing when its text is not a port from 1 to
// 65535 (a loaded file never gives such a text; a window's port box might).
std::optional<std::uint16_t> PortNumber(const Preferences& prefs);

using KeyApplied = std::function<void(PrefKey)>;

// Read one section of `ini` into `prefs` in load order, calling `applied` after each key. Refused
// values are appended to `warnings`. Call them only when the file exists (the defaults hold
// otherwise), LoadKavoPrefs first.
void LoadKavoPrefs(const IniDocument& ini, Preferences& prefs, std::vector<std::string>* warnings,
                   const KeyApplied& applied = {});
void LoadPrefs(const IniDocument& ini, Preferences& prefs, std::vector<std::string>* warnings,
               const KeyApplied& applied = {});

// Write one section of `prefs` into `ini` in save order, each key where it stands or appended.
// A value that cannot be stored leaves the key as it was and is appended to `problems`.
void SaveKavoPrefs(const Preferences& prefs, IniDocument& ini, std::vector<std::string>* problems);
void SavePrefs(const Preferences& prefs, IniDocument& ini, std::vector<std::string>* problems);

}  // namespace quorvel
