#pragma once
// prefs.ini on disk, for the front ends: read once at start, written once in the closing sequence.

#include <QString>
#include <utility>

#include "settings/preferences.h"

namespace quorvel {

class PrefsStore {
 public:
  explicit PrefsStore(QString path) : path_(std::move(path)) {}

  const QString& Path() const { return path_; }

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
  bool fileFound_ = false;
};

}  // namespace quorvel
