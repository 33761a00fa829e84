#pragma once
// A prefs.ini as the original Windows program leaves it: written key by key from nothing, "KAVO"
// first, in the ANSI code page (Windows-1252: the block, the buffer text and the launch path hold
// bytes that are not UTF-8, a no-break space among them), without the keys that later versions
// add.

#include "wire/bytes.h"

namespace quorvel::testing {

inline const Bytes kOriginalPrefs =
    "[KAVO]\r\nrepBufferCheck=1\r\nrepBufferText=\xAB%a\xBB\r\nreplaceII=%block\r\n"
    "replaceIIblock=Caf\xE9:\xA0<BR>%a - %s<BR>\r\nprofileact=1\r\nawayact=0\r\n"
    "awaypref=False\r\nlaunchcheck=0\r\nlaunchpath=C:\\Programme\\M\xFCller\\aim.exe\r\n"
    "limit=1\r\nartistJ=Left\r\ntimeJ=Right\r\nttimeJ=Center\r\nsongJ=Left\r\nstatusJ=Center\r\n"
    "artistW=_\r\ntimeW=0\r\nttimeW=0\r\nsongW=-\r\nstatusW=.\r\n"
    "artist=%A\r\nsong=%S\r\ntime=%T\r\nttime=%X\r\nstatus=%P\r\n"
    "artistN=20\r\ntimeN=5\r\nttimeN=6\r\nsongN=30\r\nstatusN=0\r\n"
    "artistF=2\r\ntimeF=0\r\nttimeF=3\r\nsongF=-1\r\nstatusF=1\r\n"
    "updateT=22767\r\nact=1\r\n[prefs]\r\nport=4000\r\nminimize=0\r\n";

}  // namespace quorvel::testing
