#pragma once
// Ini files on disk. Only a regular file (or a link to one) of at most kMaxIniFileBytes is read,
// whole (no length limit on a value), so that a FIFO, a device or a huge file can neither hang
// the program nor fill its memory. Every write goes to a temporary file in the same folder that is
// renamed over the old one, so a crash or a full disk never leaves a half-written file.

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "settings/ini_document.h"
#include "wire/bytes.h"

namespace quorvel {

inline constexpr std::int64_t kMaxIniFileBytes = std::int64_t{16} << 20;

// Reads the file at `path`. Nothing there gives an empty document and leaves `found` false. A
// path that names something else than a regular file, a file larger than kMaxIniFileBytes, or one
// that cannot be read gives nothing and sets `error` to a sentence that names the path.
std::optional<IniDocument> ReadIniDocument(const QString& path, std::string* error,
                                           bool* found = nullptr);

// Writes `data` to `path` atomically, creating the folder if needed. Returns false and sets
// `error` on failure; the old file is then untouched. `beforeCommit`, when given, runs after the
// data is written to the temporary file and before it replaces the old one (a test uses it to
// end the process at that point).
bool WriteFileAtomically(const QString& path, BytesView data, std::string* error,
                         const std::function<void()>& beforeCommit = {});

// Prints "quorvel: <message>" on standard error.
void ReportSettingsProblem(std::string_view message);

}  // namespace quorvel
