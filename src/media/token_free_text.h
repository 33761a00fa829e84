#pragma once
// A text with its tokens taken out, for the times the player has nothing to fill them with: no
// token text may reach a buddy, and a line that held only tokens and decoration ("%a - %s",
// ":: %p ::") would show as an empty frame of punctuation.

#include <span>

#include "wire/bytes.h"

namespace quorvel {

// `text` with every occurrence of every non-empty token removed, including occurrences that only
// form once others are gone ("%%aa" loses both). The text is cut into lines at "<br>" (in any
// case, also "<br/>" and "<br />") and at CR LF, LF or CR; a line that lost a token and is left
// with no letter or digit outside HTML tags is removed with its line break, keeping only its tags
// so that the markup stays balanced. Other lines stay as they are.
Bytes TokenFreeText(BytesView text, std::span<const Bytes> tokens);

// True when `text` holds a letter or a digit outside HTML tags ("<" through the next ">").
// Characters beyond ASCII count as letters, apart from the punctuation, symbols, arrows, shapes,
// dingbats and emoji of their common blocks.
bool HasLetterOrDigitOutsideTags(BytesView text);

}  // namespace quorvel
