#pragma once
// TLVs: type Word16, length Word16, then that many value bytes, chained back to back.

#include <cstdint>
#include <optional>

#include "wire/bytes.h"

namespace quorvel {

// What FindTLV returns when the chain has no TLV of the asked type.
inline constexpr BytesView kNoneText = "<none>";

// TLV types the program reads or writes.
inline constexpr std::int32_t kTlvScreenName = 0x0001;
inline constexpr std::int32_t kTlvProfile = 0x0002;
inline constexpr std::int32_t kTlvAwayMime = 0x0003;
inline constexpr std::int32_t kTlvAwayText = 0x0004;

// Where a TLV stands in its chain: 0-based offset of its type bytes and the value bytes that exist.
struct TlvLocation {
  std::size_t offset;
  BytesView value;
};

// The first TLV of `type` in `chain`, or nothing. A value that runs past the end of the chain
// still matches and yields the bytes that exist; the scan always ends.
std::optional<TlvLocation> LocateTLV(std::int32_t type, BytesView chain) noexcept;

// The value of the first TLV of `type` in `chain`, or the literal "<none>".
Bytes FindTLV(std::int32_t type, BytesView chain);

// Type, length of value, value. Throws Error for a type outside 0..65535 or a value over 65535
// bytes, with no partial result.
Bytes MakeTLV(std::int32_t type, BytesView value);

}  // namespace quorvel
