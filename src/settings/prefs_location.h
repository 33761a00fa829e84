#pragma once
// Where prefs.ini lives.

#include <QString>

namespace quorvel {

inline constexpr char kPrefsFileName[] = "prefs.ini";

struct PrefsLocation {
  QString path;      // where the settings are read and saved
  QString seedPath;  // read instead while `path` holds no file yet; empty when there is none
};

// `overridePath` (from --prefs) when given, made absolute. Otherwise prefs.ini in `programDir`
// when a file of that name is already there and can be written (a portable copy keeps its
// settings beside the program). Otherwise prefs.ini in `configDir`, starting from the values of
// a prefs.ini beside the program that cannot be written, when there is one: an installed program
// never creates its settings beside itself, where one user's file would lock out every other.
PrefsLocation ChoosePrefsLocation(const QString& overridePath, const QString& programDir,
                                  const QString& configDir);

// ChoosePrefsLocation with the running program's folder and the user's configuration folder for
// this application. Needs a QCoreApplication.
PrefsLocation FindPrefsLocation(const QString& overridePath);

}  // namespace quorvel
