#pragma once
// The client's outgoing instant message (SNAC 4/6, ICBM channel 1) and the commands a user types
// into one: ".a text" sets an away message instead of sending the message, ".b" comes back.

#include <cstdint>
#include <optional>

#include "wire/bytes.h"
#include "wire/flap.h"
#include "wire/word.h"

namespace quorvel {

inline constexpr std::int32_t kFamilyMessaging = 0x0004;
inline constexpr std::int32_t kSubtypeSendMessage = 0x0006;
// The SnacKey of an instant message, by which the monitor asks the relay for them.
inline constexpr std::int32_t kSnacInstantMessage = kFamilyMessaging * 256 + kSubtypeSendMessage;

// Whether `frame` is an instant message the client sends: SNAC 4/6 on channel 2, whether or not
// its layout holds together.
inline bool IsInstantMessage(BytesView frame) noexcept {
  return frame.size() >= kSnacDataOffset && frame[kFlapChannelOffset] == 2 &&
         WordAt(frame, kSnacFamilyOffset) == kFamilyMessaging &&
         WordAt(frame, kSnacSubtypeOffset) == kSubtypeSendMessage;
}

// The text of the instant message that `frame` carries, as UTF-8: the first text fragment of its
// message TLV (2), converted when it declares UCS-2 or ISO-8859-1. Nothing for any other frame,
// for another character set, and for a message whose layout does not hold together.
std::optional<Bytes> InstantMessageText(BytesView frame);

struct TypedCommand {
  enum class Kind { kAway, kReturn };
  Kind kind;
  Bytes awayText;  // kAway: the message text without the ".a " (its HTML kept)
};

// The command that a message text holds. With its HTML tags set aside (a "<br>" counts as a line
// break), the text begins with ".a " and has more to show after it: an away message; or it reads
// ".b" and nothing else but blanks: a return. Anything else is an ordinary message, among them
// ".a" with nothing after it, ".b " followed by text (".bashrc ..."), and a command on a later
// line.
std::optional<TypedCommand> ReadTypedCommand(BytesView messageText);

}  // namespace quorvel
