#pragma once
// Every user preference, as stored in prefs.ini: section "prefs" (port, tray, bind address, when
// to send updates, the media player's choice, autostart) and section "KAVO" (everything else);
// each member's comment names its key. Values are held as the window's controls hold them: texts
// as typed, check boxes as 0/1/2, the away option as the state of its first button, the interval
// as the spin control's position. The defaults, and how each value is stored, are in the table of
// settings (settings_table.h).

#include <array>
#include <string>

#include "media/format_settings.h"

namespace quorvel {

inline constexpr int kSpinMax = 32767;  // interval = kSpinMax - spin position

// The Replace page's five columns for one media field.
struct FieldPrefs {
  std::string token;          // artist, song, status, time, ttime, album
  int caseIndex{};            // artistF ...: -1 .. 3, a position in the case list
  std::string length;         // artistN ...
  std::string pad;            // artistW ...
  std::string justification;  // artistJ ...
};

struct Preferences {
  // Every setting at its default.
  Preferences();

  // Section "prefs".
  std::string port;           // port: the listening port, as typed
  int minimizeToTray{};       // minimize
  std::string bindAddress;    // bind: the listener's address
  bool sendOnChange{};        // sendOnChange: an update goes out only when its frame changed
  std::string player;         // player: the media player preferred, as typed; empty: automatic
  std::string ignorePlayers;  // ignorePlayers: the media players never read, comma-separated
  bool autostart{};           // autostart: started with the desktop session

  // Section "KAVO": switches, launch and interval.
  int enabled{};              // act: "Enable Quorvel"
  int profileUpdates{};       // profileact: media stats in the profile
  int awayUpdates{};          // awayact: media stats in the away message
  bool awayUsesOwnMessage{};  // awaypref: "Use My Away Message", else the Replace Continued block
  int launchAtStart{};        // launchcheck
  std::string launchPath;     // launchpath
  int intervalSpin{};         // updateT: the spin position; the interval is kSpinMax - intervalSpin

  // Section "KAVO": the Replace and Replace Continued pages.
  std::array<FieldPrefs, kMediaFieldCount> fields;  // in MediaField order
  int limitOnly{};                                  // limit: a length only shortens, never pads
  int bufferOn{};                                   // repBufferCheck
  std::string bufferText;                           // repBufferText
  std::string blockToken;                           // replaceII
  std::string block;                                // replaceIIblock: lines end with CR LF

  int IntervalMs() const { return kSpinMax - intervalSpin; }
  FieldPrefs& Field(MediaField field) { return fields.at(static_cast<std::size_t>(field)); }
  const FieldPrefs& Field(MediaField field) const {
    return fields.at(static_cast<std::size_t>(field));
  }
};

}  // namespace quorvel
