#pragma once
// Starting with the desktop session, as the XDG autostart convention has it: a desktop entry in
// the autostart folder of the user's configuration folder, named by the application id.

#include <QByteArray>
#include <QString>
#include <optional>

namespace quorvel {

// $XDG_CONFIG_HOME/autostart/<application id>.desktop (XDG_CONFIG_HOME defaults to ~/.config);
// empty when the user has no configuration folder.
QString AutostartEntryPath();

// The entry that starts `program` (an absolute path), with the path quoted as the Desktop Entry
// rules ask, or nothing when the path cannot be written in an entry: not absolute, or holding a
// control character or "=", which an entry's command cannot name.
std::optional<QByteArray> AutostartEntryText(const QString& program);

// Writes the entry that starts `program` (creating the folder), or removes it when `enabled` is
// false; an entry that is already gone counts as removed. On failure returns false and says why in
// `error`.
bool WriteAutostart(bool enabled, const QString& program, QString* error);

}  // namespace quorvel
