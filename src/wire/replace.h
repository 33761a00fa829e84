#pragma once

#include "wire/bytes.h"

namespace quorvel {

// Every occurrence of `from` in `text`, scanning left to right, exact, non-overlapping, without
// rescanning what was inserted, replaced by `to`. An empty `from` changes nothing.
Bytes ReplaceAll(BytesView text, BytesView from, BytesView to);

}  // namespace quorvel
