#include "monitor/instant_message.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "monitor/composition.h"
#include "wire/flap.h"
#include "wire/snac.h"
#include "wire/tlv.h"
#include "wire/word.h"

namespace quorvel {
namespace {

constexpr std::int32_t kSnacFlagExtraData = 0x8000;  // a length-prefixed block precedes the data
constexpr std::int32_t kChannelPlainMessage = 1;
constexpr std::size_t kCookieSize = 8;
constexpr std::int32_t kTlvMessage = 0x0002;
constexpr std::uint8_t kFragmentText = 0x01;
constexpr std::size_t kFragmentHeaderSize = 4;  // id, version, length
constexpr std::size_t kTextHeaderSize = 4;      // character set, subset

// Character sets of a text fragment.
constexpr std::int32_t kCharsetAscii = 0x0000;
constexpr std::int32_t kCharsetUcs2 = 0x0002;
constexpr std::int32_t kCharsetLatin1 = 0x0003;

void AppendUtf8(Bytes& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Big-endian UCS-2 (surrogate pairs read as UTF-16) as UTF-8; a lone surrogate becomes U+FFFD.
// Nothing for an odd number of bytes.
std::optional<Bytes> Ucs2ToUtf8(BytesView text) {
  if (text.size() % 2 != 0) return std::nullopt;
  Bytes out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size(); pos += 2) {
    auto code = static_cast<std::uint32_t>(WordAt(text, pos));
    if (code >= 0xD800 && code <= 0xDBFF && pos + 3 < text.size()) {
      const auto low = static_cast<std::uint32_t>(WordAt(text, pos + 2));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        pos += 2;
      }
    }
    if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;
    AppendUtf8(out, code);
  }
  return out;
}

bool IsBlank(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsLineBreakTag(BytesView tag) noexcept {
  if (tag.size() < 4) return false;
  const auto lower = [](char c) { return static_cast<char>(c | 0x20); };
  if (lower(tag[1]) != 'b' || lower(tag[2]) != 'r') return false;
  const char next = tag[3];
  return next == '>' || next == ' ' || next == '/';
}

}  // namespace

std::optional<Bytes> InstantMessageText(BytesView frame) {
  if (!IsInstantMessage(frame)) return std::nullopt;
  BytesView data = SnacData(frame);
  if ((WordAt(frame, kSnacFlagsOffset) & kSnacFlagExtraData) != 0) {
    const auto extra = static_cast<std::size_t>(WordAt(data, 0));
    if (data.size() < 2 + extra) return std::nullopt;
    data.remove_prefix(2 + extra);
  }
  if (data.size() < kCookieSize + 3 || WordAt(data, kCookieSize) != kChannelPlainMessage) {
    return std::nullopt;
  }
  const std::size_t nameSize = ByteAt(data, kCookieSize + 2);
  const std::size_t chainStart = kCookieSize + 3 + nameSize;
  if (data.size() < chainStart) return std::nullopt;
  const BytesView chain = data.substr(chainStart);
  const auto message = LocateTLV(kTlvMessage, chain);
  if (!message ||
      static_cast<std::size_t>(WordAt(chain, message->offset + 2)) != message->value.size()) {
    return std::nullopt;
  }
  const BytesView fragments = message->value;
  for (std::size_t pos = 0; pos + kFragmentHeaderSize <= fragments.size();) {
    const auto size = static_cast<std::size_t>(WordAt(fragments, pos + 2));
    const std::size_t start = pos + kFragmentHeaderSize;
    if (fragments.size() - start < size) return std::nullopt;
    if (ByteAt(fragments, pos) == kFragmentText) {
      if (size < kTextHeaderSize) return std::nullopt;
      const BytesView text = fragments.substr(start + kTextHeaderSize, size - kTextHeaderSize);
      switch (WordAt(fragments, start)) {
        case kCharsetAscii:
          return Bytes(text);
        case kCharsetUcs2:
          return Ucs2ToUtf8(text);
        case kCharsetLatin1:
          return Latin1ToUtf8(text);
        default:
          return std::nullopt;
      }
    }
    pos = start + size;
  }
  return std::nullopt;
}

std::optional<TypedCommand> ReadTypedCommand(BytesView messageText) {
  // What the buddy would read, each byte with its place in the text.
  Bytes shown;
  std::vector<std::size_t> places;
  for (std::size_t pos = 0; pos < messageText.size(); ++pos) {
    if (messageText[pos] == '<') {
      const std::size_t close = messageText.find('>', pos);
      if (close != BytesView::npos) {
        if (IsLineBreakTag(messageText.substr(pos, close + 1 - pos))) {
          shown += '\n';
          places.push_back(pos);
        }
        pos = close;
        continue;
      }
    }
    shown += messageText[pos];
    places.push_back(pos);
  }

  static constexpr BytesView kAway = ".a ";
  if (shown.starts_with(kAway)) {
    const BytesView rest = BytesView(shown).substr(kAway.size());
    if (std::all_of(rest.begin(), rest.end(), IsBlank)) return std::nullopt;
    Bytes text(messageText);
    for (std::size_t i = kAway.size(); i-- > 0;) text.erase(places[i], 1);
    return TypedCommand{TypedCommand::Kind::kAway, std::move(text)};
  }
  BytesView trimmed = shown;
  while (!trimmed.empty() && IsBlank(trimmed.back())) trimmed.remove_suffix(1);
  if (trimmed == ".b") return TypedCommand{TypedCommand::Kind::kReturn, {}};
  return std::nullopt;
}

}  // namespace quorvel
