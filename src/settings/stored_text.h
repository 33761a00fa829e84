#pragma once
// Setting texts are bytes: UTF-8, or, in a prefs.ini written on Windows, its ANSI code page
// (Windows-1252). These show such bytes for editing and give the bytes to store after an edit, so
// that a text nobody changed keeps the bytes it was read with.

#include <QString>

#include "wire/bytes.h"

namespace quorvel {

// `stored` as text: read as UTF-8 when it is valid UTF-8, and as Windows-1252 otherwise.
QString TextForEditing(BytesView stored);

// The bytes to store for the text `edited` in place of `stored`: `stored` itself when it reads as
// `edited` (nothing changed), and UTF-8 otherwise.
Bytes BytesForStoring(const QString& edited, BytesView stored);

}  // namespace quorvel
