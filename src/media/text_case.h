#pragma once
// The case modes of the media fields.

#include "wire/bytes.h"

namespace quorvel {

// `value` (UTF-8) in the case chosen by `mode`: kCaseNone unchanged, kCaseUpper every letter in
// upper case, kCaseFirstCap the first character of every word in upper case and every other
// letter in lower case (words are separated by NUL, tab, LF, VT, FF, CR and space), any other
// mode (kCaseLower, or -1 when nothing is chosen) every letter in lower case. Every letter that
// has a case changes, not only ASCII ones; bytes that are not well-formed UTF-8 are kept as they
// are.
Bytes ApplyCase(BytesView value, int mode);

}  // namespace quorvel
