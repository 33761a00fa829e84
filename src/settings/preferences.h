#pragma once
// Every user preference, as stored in prefs.ini: section "prefs" (port, tray, bind address) and
// section "KAVO" (everything else). Values are held as the window's controls hold them: texts as
// typed, check boxes as 0/1/2, the away option as the state of its first button, the interval as
// the spin control's position.

#include <array>
#include <string>

#include "media/format_settings.h"

namespace quorvel {

inline constexpr int kSpinMax = 32767;  // interval = kSpinMax - spin position

// The Replace page's five columns for one media field.
struct FieldPrefs {
  std::string token;                     // artist, song, status, time, ttime
  int caseIndex = kCaseNone;             // artistF ...: -1 .. 3
  std::string length = "0";              // artistN ...
  std::string pad = "_";                 // artistW ...
  std::string justification = "Center";  // artistJ ...
};

struct Preferences {
  // Section "prefs".
  std::string port = "3131";
  int minimize = 1;
  std::string bind = "127.0.0.1";  // the listener's address; never every interface by default

  // Section "KAVO": switches, launch and interval.
  int act = 1;
  int profileact = 1;
  int awayact = 1;
  bool awayprefOwnMessage = true;  // "awaypref": True = "Use My Away Message"
  int launchcheck = 0;
  std::string launchpath;
  int updateT = kSpinMax - 5000;  // spin position; the interval is kSpinMax - updateT

  // Section "KAVO": the Replace and Replace Continued pages.
  std::array<FieldPrefs, kMediaFieldCount> fields = {
      FieldPrefs{"%a"}, FieldPrefs{"%s"}, FieldPrefs{"%p"}, FieldPrefs{"%t"}, FieldPrefs{"%x"}};
  int limit = 0;
  int repBufferCheck = 0;
  std::string repBufferText = "Text1";
  std::string replaceII = "What You Want Replaced";
  std::string replaceIIblock =  // lines end with CR LF
      "A Large Block Of Text\r\n"
      "Variables From 'Replace' Work For This\r\n"
      "Multiple Lines Will Show Up Properly In Your Profile / Away\r\n"
      "Example:\r\n"
      ":: %a - %s ::\r\n"
      ":: %p - %t // %x ::\r\n";

  int IntervalMs() const { return kSpinMax - updateT; }
};

}  // namespace quorvel
