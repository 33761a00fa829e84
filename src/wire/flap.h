#pragma once
// The layouts of the FLAP frame header and the SNAC header, as 0-based offsets from the start of
// the frame (the program always addresses a SNAC inside its frame).

#include <cstddef>
#include <cstdint>

namespace quorvel {

inline constexpr char kFlapStart = 0x2A;  // '*'
inline constexpr std::size_t kFlapHeaderSize = 6;
inline constexpr std::size_t kFlapChannelOffset = 1;
inline constexpr std::size_t kFlapSequenceOffset = 2;
inline constexpr std::size_t kFlapLengthOffset = 4;
inline constexpr std::size_t kMaxFlapDataLength = 65535;

// The header template for data handed over without a FLAP header: channel 2, sequence and length
// zero until the sender stamps them.
inline constexpr const char* kFlapTemplateHex = "2A 02 00 00 00 00";

inline constexpr std::size_t kSnacFamilyOffset = 6;
inline constexpr std::size_t kSnacSubtypeOffset = 8;
inline constexpr std::size_t kSnacFlagsOffset = 10;
inline constexpr std::size_t kSnacRequestIdOffset = 12;
inline constexpr std::size_t kSnacHeaderSize = 10;
inline constexpr std::size_t kSnacDataOffset = kFlapHeaderSize + kSnacHeaderSize;  // 16

// The frame must have at least this many bytes to carry a SNAC key.
inline constexpr std::size_t kSnacKeyMinFrameSize = 10;

}  // namespace quorvel
