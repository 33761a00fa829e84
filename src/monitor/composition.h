#pragma once
// Filling the media tokens into the client's set-user-information frames: the profile (TLV 2
// replaced by its composed twin) and the away message (a fresh away SNAC built from the text of
// TLV 4). Both return a complete frame that fits one FLAP frame, or the input unchanged when there
// is nothing to compose or the result could not be sent as one frame.

#include <cstddef>
#include <optional>
#include <string>

#include "media/composer.h"
#include "media/format_settings.h"
#include "wire/bytes.h"

namespace quorvel {

// The character set named by a MIME type such as text/aolrtf; charset="us-ascii" (quotes
// optional, name compared case-insensitively).
struct DeclaredCharset {
  std::string name;  // lower case
  std::size_t pos;   // where the name stands inside the MIME type
  std::size_t size;  // its length there
};
std::optional<DeclaredCharset> FindCharset(BytesView mime);

// True when every byte is below 0x80.
bool IsAscii(BytesView text) noexcept;

// ISO-8859-1 bytes as UTF-8.
Bytes Latin1ToUtf8(BytesView text);

// text/aolrtf; charset="us-ascii" for plain ASCII text, the utf-8 twin for anything else.
BytesView AwayMimeFor(BytesView text) noexcept;

// True when a FLAP frame holding an away SNAC of `mime` and `text` stays within 65535 data bytes.
bool AwaySnacFitsFrame(BytesView mime, BytesView text) noexcept;

// The frame with every occurrence of its profile TLV replaced by a TLV of the composed profile
// (Composer::ComposeText: without a track, its tokens taken out). When the filling brings in
// non-ASCII bytes and TLV 1 declares us-ascii, TLV 1 declares utf-8.
Bytes ComposeProfileFrame(BytesView frame, Composer& composer);

// The same with the profile's tokens taken out whatever the player shows
// (Composer::FillWithoutTrack): the client's own profile as it may stand once updates stop.
Bytes TokenFreeProfileFrame(BytesView frame, Composer& composer);

// The frame's FLAP header followed by an away SNAC whose text is TLV 4's value (or the Replace
// Continued block) with its tokens filled, or taken out while the player shows no track. With
// away updates off, TokenFreeAwayFrame(). Returned unchanged when the frame carries no TLV 4, when
// its character set is not one of us-ascii, utf-8, iso-8859-1 (or none), when there is no track
// and no token to take out of the client's own text, and when the composed text would not fit
// one frame.
Bytes ComposeAwayFrame(BytesView frame, Composer& composer, const UpdateSettings& settings);

// The away frame of the client's own text (TLV 4) with its tokens taken out whatever the player
// shows, built as ComposeAwayFrame() builds it; unchanged when there is no token to take out.
Bytes TokenFreeAwayFrame(BytesView frame, Composer& composer);

}  // namespace quorvel
