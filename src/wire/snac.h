#pragma once
// SNAC keys: how the traffic monitor recognises a packet, from the low bytes of family and
// subtype only (channel and high bytes are never looked at).

#include <cstdint>
#include <optional>

#include "wire/bytes.h"
#include "wire/flap.h"

namespace quorvel {

inline constexpr std::int32_t kSnacSetUserInfo = 0x0204;   // client to server
inline constexpr std::int32_t kSnacBuddyOnline = 0x030B;   // server to client
inline constexpr std::int32_t kSnacBuddyOffline = 0x030C;  // server to client
inline constexpr std::int32_t kSnacLoginReply = 0x1703;    // server to client

// Low byte of the family * 256 + low byte of the subtype (frame offsets 7 and 9); no key for a
// frame shorter than 10 bytes. Inline: the relay asks it of every frame it passes on.
inline std::optional<std::int32_t> SnacKey(BytesView frame) noexcept {
  if (frame.size() < kSnacKeyMinFrameSize) return std::nullopt;
  return ByteAt(frame, kSnacFamilyOffset + 1) * 256 + ByteAt(frame, kSnacSubtypeOffset + 1);
}

// The SNAC data of a frame: everything from offset 16 on (empty for shorter frames).
BytesView SnacData(BytesView frame) noexcept;

}  // namespace quorvel
