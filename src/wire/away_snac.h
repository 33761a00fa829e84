#pragma once
// The one SNAC the program builds itself: set user information with an away message.

#include "wire/bytes.h"

namespace quorvel {

// text/aolrtf; charset="us-ascii" and its UTF-8 twin, declared when the away text holds bytes
// beyond ASCII.
inline constexpr BytesView kAwayMimeUsAscii = "text/aolrtf; charset=\"us-ascii\"";
inline constexpr BytesView kAwayMimeUtf8 = "text/aolrtf; charset=\"utf-8\"";

// Family 2, subtype 4, flags 0, request id 4, then TLV 3 (mime) and TLV 4 (text), nothing else.
// Empty mime and text clear the away message. Throws Error when either is over 65535 bytes.
Bytes MakeAwaySNAC(BytesView mime, BytesView text);

}  // namespace quorvel
