#pragma once
// Pulling the typed line out of an instant message's HTML body.

#include "wire/bytes.h"

namespace quorvel {

// The text from the first `extract` in `from` up to "</HTML>", with that `extract` taken out and
// the 14 bytes of closing font and body tags before "</HTML>" dropped. Empty when `extract` or a
// later "</HTML>" is missing, or when too little stands between them.
Bytes ExtractMessage(BytesView from, BytesView extract);

}  // namespace quorvel
