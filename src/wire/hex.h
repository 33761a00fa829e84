#pragma once

#include "wire/bytes.h"

namespace quorvel {

// Hex text such as "2A 02 00 00 00 00": numbers 0..FF (either case) separated by single spaces.
// Throws Error on any piece that is not such a number, including the empty piece left by a doubled,
// leading or trailing space.
Bytes HexToBytes(BytesView text);

}  // namespace quorvel
