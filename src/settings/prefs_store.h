#pragma once
// prefs.ini on disk, for the front ends: read once at start, written once in the closing sequence.

#include <QString>
#include <utility>

#include "settings/preferences.h"
#include "settings/prefs_location.h"

namespace quorvel {

class PrefsStore {
 public:
  explicit PrefsStore(QString path) : path_(std::move(path)) {}
  // Saved to `location.path`; while no file is there, read from `location.seedPath`, whose lines
  // the first save then carries over.
  explicit PrefsStore(PrefsLocation location)
      : path_(std::move(location.path)), seedPath_(std::move(location.seedPath)) {}

  // Where the settings are saved.
  const QString& Path() const { return path_; }
  // Where they are read from now: Path(), or the starting file while Path() holds none.
  QString SourcePath() const;

  // Whether the settings can be read: nothing is there yet, or a regular file (or a link to one)
  // of at most 16 MiB that can be read. Otherwise says why on standard error and returns false:
  // the front ends then stop at once rather than run on defaults and lose the file at exit.
  bool Check() const;

  // Reads every setting into a Preferences that starts from the defaults, in load order. With no
  // file the defaults are returned. Refused values and an unreadable file are reported on standard
  // error, each once.
  Preferences Load();

  // Writes every setting into the file as it is now on disk, in one atomic write: every key where
  // it stands, new keys and sections appended, every other line kept. The bytes are those that
  // writing the keys one at a time would give. Returns false, and reports on standard error, when
  // the file cannot be read (it is then left alone, so that nothing in it is lost) or written.
  bool Save(const Preferences& prefs);

  // Whether the last Load found a file.
  bool FileFound() const { return fileFound_; }

 private:
  QString path_;
  QString seedPath_;
  bool fileFound_ = false;
};

}  // namespace quorvel
