#pragma once
// MPRIS bus names and player properties as the program reads them. A player may send anything: a
// value of the wrong D-Bus type counts as absent, never as an error.

#include <QDBusMessage>
#include <QString>
#include <QVariant>
#include <optional>
#include <string>

#include "media/media_player.h"

namespace quorvel {

// kMprisPrefix, "org.mpris.MediaPlayer2.", as a QString.
QString MprisPrefix();

// `text` as UTF-8 bytes.
std::string ToUtf8(const QString& text);

// The snapshot in the reply to GetAll("org.mpris.MediaPlayer2.Player"), or nothing when the call
// failed or its reply is not a dictionary.
std::optional<PlayerSnapshot> SnapshotOfReply(const QDBusMessage& reply);

// A PlaybackStatus value as kPlay*, or -1 for any other value or type.
int PlayStatusCode(const QVariant& value);

// The Identity in the reply to GetAll("org.mpris.MediaPlayer2"); empty when there is none.
std::string IdentityOfReply(const QDBusMessage& reply);

}  // namespace quorvel
