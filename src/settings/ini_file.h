#pragma once
// Ini files on disk. Reads take the whole value (no length limit); every write goes to a temporary
// file in the same folder that is renamed over the old one, so a crash or a full disk never
// leaves a half-written file. Failures to write are reported on standard error.

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "settings/ini_document.h"
#include "wire/bytes.h"

namespace quorvel {

// True when `path` names a file that can be opened for reading. Errors give false, unreported.
bool FileExists(const QString& path);

// Reads the file at `path`. A missing file gives an empty document; a file that exists but cannot
// be read gives nothing and sets `error`.
std::optional<IniDocument> ReadIniDocument(const QString& path, std::string* error);

// Writes `data` to `path` atomically, creating the folder if needed. Returns false and sets
// `error` on failure; the old file is then untouched. `beforeCommit`, when given, runs after the
// data is written to the temporary file and before it replaces the old one (a test uses it to
// end the process at that point).
bool WriteFileAtomically(const QString& path, BytesView data, std::string* error,
                         const std::function<void()>& beforeCommit = {});

// Prints "quorvel: <message>" on standard error.
void ReportSettingsProblem(std::string_view message);

}  // namespace quorvel
