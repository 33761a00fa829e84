#pragma once
// Where prefs.ini lives.

#include <QString>

namespace quorvel {

inline constexpr char kPrefsFileName[] = "prefs.ini";

// `overridePath` (from --prefs) when given, made absolute. Otherwise prefs.ini in `programDir`
// when that folder already holds one or a file can be created there (a portable install keeps its
// settings beside the program); otherwise prefs.ini in `configDir`.
QString ChoosePrefsPath(const QString& overridePath, const QString& programDir,
                        const QString& configDir);

// ChoosePrefsPath with the running program's folder and the user's configuration folder for this
// application. Needs a QCoreApplication.
QString PrefsPath(const QString& overridePath);

}  // namespace quorvel
