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

// The value of `key` in `section` of the file at `file`, or `fallback` when the file, the section
// or the key is missing or the file cannot be read.
Bytes ReadIni(std::string_view section, std::string_view key, const QString& file,
              std::string_view fallback);

// Sets one key in the file at `file`, creating the file, the section and the key as needed and
// keeping every other line. Returns false, and reports on standard error, when the file cannot be
// read or written or the key or value cannot be stored (see IniDocument::Set).
bool WriteIni(std::string_view section, std::string_view key, std::string_view value,
              const QString& file);

// Prints "quorvel: <message>" on standard error.
void ReportSettingsProblem(std::string_view message);

}  // namespace quorvel
