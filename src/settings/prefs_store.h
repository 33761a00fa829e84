#pragma once
// prefs.ini on disk, for the front ends: read once at start, written once in the closing sequence.

#include <QString>
#include <string>
#include <vector>

#include "settings/preferences.h"
#include "settings/settings_table.h"

namespace quorvel {

class PrefsStore {
 public:
  explicit PrefsStore(QString path) : path_(std::move(path)) {}

  const QString& Path() const { return path_; }

  // Reads both sections, "KAVO" then "prefs", into a Preferences that starts from the defaults,
  // calling `applied` after each key (see prefs_keys.h). With no file the defaults are returned
  // and nothing is called. Refused values and an unreadable file are reported on standard error,
  // each once, and kept in Warnings().
  Preferences Load(const KeyApplied& applied = {});

  // Writes "KAVO" then "prefs" into the file as it is now on disk, in one atomic write: every key
  // where it stands, new keys and sections appended, every other line kept. The bytes are those
  // that writing the keys one at a time would give. Returns false, and reports on standard error,
  // when the file cannot be read (it is then left alone, so that nothing in it is lost) or written.
  bool Save(const Preferences& prefs);

  // Whether the last Load found a file.
  bool FileFound() const { return fileFound_; }
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  QString path_;
  bool fileFound_ = false;
  std::vector<std::string> warnings_;
};

}  // namespace quorvel
