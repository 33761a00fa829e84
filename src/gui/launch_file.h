#pragma once
// Opens a file the way the desktop does: an executable file is started directly, any other file
// (or a URL) is opened with the program associated with it.

#include <QString>

namespace quorvel {

// Opens `file`; an executable runs in `directory` (empty: the current folder). A file that does
// not exist, an empty name, or a start that fails does nothing and gives false; callers may
// ignore the result.
bool LaunchFile(const QString& file, const QString& directory = {});

}  // namespace quorvel
