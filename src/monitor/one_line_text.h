#pragma once
// Texts from the network made safe to show on one line of the event log, of a terminal and of a
// window title: a buddy's name or an address must not break the line, forge another one, or
// reach a terminal as an escape sequence.

#include <string>
#include <string_view>

namespace quorvel {

// `text` with each byte that could break or steer a line shown as "\xNN" (upper-case hex): bytes
// below 0x20 and 0x7F; the C1 controls U+0080 to U+009F and the line and paragraph separators
// U+2028 and U+2029, byte by byte; and every byte that is not part of well-formed UTF-8, so that a
// terminal in any character set and the window show the same text. Everything else is kept.
std::string OneLineText(std::string_view text);

}  // namespace quorvel
