#include "monitor/composition.h"

#include <algorithm>
#include <array>
#include <exception>
#include <string_view>

#include "wire/away_snac.h"
#include "wire/flap.h"
#include "wire/replace.h"
#include "wire/snac.h"
#include "wire/tlv.h"
#include "wire/word.h"

namespace quorvel {
namespace {

constexpr std::int32_t kTlvProfileMime = 0x0001;

char Lower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string ToLower(BytesView text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

bool FitsOneFrame(std::size_t frameSize) noexcept {
  return frameSize <= kFlapHeaderSize + kMaxFlapDataLength;
}

// Character sets whose text the away composition can take over byte for byte (after converting
// ISO-8859-1 to UTF-8): every one of them writes ASCII as ASCII.
enum class AwayCharset { kAscii, kUtf8, kLatin1, kOther };

AwayCharset ClassifyAwayCharset(BytesView chain) {
  const auto mime = LocateTLV(kTlvAwayMime, chain);
  if (!mime) return AwayCharset::kAscii;
  const auto charset = FindCharset(mime->value);
  if (!charset) return AwayCharset::kAscii;
  static constexpr std::array<std::string_view, 2> kAscii = {"us-ascii", "ascii"};
  static constexpr std::array<std::string_view, 2> kUtf8 = {"utf-8", "utf8"};
  static constexpr std::array<std::string_view, 3> kLatin1 = {"iso-8859-1", "latin1", "iso_8859-1"};
  const auto in = [&](const auto& names) {
    return std::find(names.begin(), names.end(), charset->name) != names.end();
  };
  if (in(kAscii)) return AwayCharset::kAscii;
  if (in(kUtf8)) return AwayCharset::kUtf8;
  if (in(kLatin1)) return AwayCharset::kLatin1;
  return AwayCharset::kOther;
}

// Rewrites a us-ascii declaration in the profile's MIME type (TLV 1) to utf-8. A TLV 1 that runs
// past the end of the frame is left alone.
void DeclareUtf8Profile(Bytes& frame) {
  const auto mime = LocateTLV(kTlvProfileMime, SnacData(frame));
  if (!mime) return;
  const std::size_t at = kSnacDataOffset + mime->offset;
  const auto declared = static_cast<std::size_t>(WordAt(frame, at + 2));
  if (declared != mime->value.size()) return;
  const auto charset = FindCharset(mime->value);
  if (!charset || (charset->name != "us-ascii" && charset->name != "ascii")) return;
  Bytes value(mime->value);
  value.replace(charset->pos, charset->size, "utf-8");
  frame.replace(at, 4 + declared, MakeTLV(kTlvProfileMime, value));
}

}  // namespace

std::optional<DeclaredCharset> FindCharset(BytesView mime) {
  static constexpr BytesView kKey = "charset=";
  const std::string lower = ToLower(mime);
  const std::size_t key = lower.find(kKey);
  if (key == std::string::npos) return std::nullopt;
  std::size_t pos = key + kKey.size();
  std::size_t end;
  if (pos < lower.size() && lower[pos] == '"') {
    ++pos;
    end = lower.find('"', pos);
    if (end == std::string::npos) end = lower.size();
  } else {
    end = lower.find_first_of("; \t", pos);
    if (end == std::string::npos) end = lower.size();
  }
  return DeclaredCharset{lower.substr(pos, end - pos), pos, end - pos};
}

bool IsAscii(BytesView text) noexcept {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

Bytes Latin1ToUtf8(BytesView text) {
  Bytes out;
  out.reserve(text.size() * 2);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

BytesView AwayMimeFor(BytesView text) noexcept {
  return IsAscii(text) ? kAwayMimeUsAscii : kAwayMimeUtf8;
}

bool AwaySnacFitsFrame(BytesView mime, BytesView text) noexcept {
  static constexpr std::size_t kOverhead = 18;  // SNAC header and the two TLV headers
  return kOverhead + mime.size() + text.size() <= kMaxFlapDataLength;
}

namespace {

// The profile frame with its text filled from the player (`withPlayer`) or with its tokens taken
// out.
Bytes BuildProfileFrame(BytesView frame, Composer& composer, bool withPlayer) {
  const auto profile = LocateTLV(kTlvProfile, SnacData(frame));
  if (!profile) return Bytes(frame);
  try {
    const Bytes text(profile->value);
    const Bytes filled = withPlayer ? composer.ComposeText(text) : composer.FillWithoutTrack(text);
    Bytes out = ReplaceAll(frame, MakeTLV(kTlvProfile, text), MakeTLV(kTlvProfile, filled));
    if (out != frame && !IsAscii(filled)) DeclareUtf8Profile(out);
    if (!FitsOneFrame(out.size())) return Bytes(frame);
    return out;
  } catch (const std::exception&) {
    // A composed profile too long for a TLV, or a player failing mid-way: the client's own frame.
    return Bytes(frame);
  }
}

// The away frame with its text (the client's own, or the block with `useBlock`) filled from the
// player (`withPlayer`, while it shows a track) or with its tokens taken out.
Bytes BuildAwayFrame(BytesView frame, Composer& composer, bool useBlock, bool withPlayer) {
  const BytesView chain = SnacData(frame);
  const auto text = LocateTLV(kTlvAwayText, chain);
  if (!text) return Bytes(frame);
  const AwayCharset charset = ClassifyAwayCharset(chain);
  if (charset == AwayCharset::kOther) return Bytes(frame);
  try {
    const bool playing = withPlayer && composer.Refresh();
    Bytes templateText;
    if (useBlock) {
      templateText = composer.BlockText();
    } else if (charset == AwayCharset::kLatin1) {
      templateText = Latin1ToUtf8(text->value);
    } else {
      templateText = Bytes(text->value);
    }
    const Bytes filled =
        playing ? composer.FillTokens(templateText) : composer.FillWithoutTrack(templateText);
    // Without a track, the client's own text without tokens is the client's own frame.
    if (!playing && !useBlock && filled == templateText) return Bytes(frame);
    const BytesView mime = AwayMimeFor(filled);
    if (!AwaySnacFitsFrame(mime, filled)) return Bytes(frame);
    Bytes out(Slice(frame, 0, kFlapHeaderSize));
    out += MakeAwaySNAC(mime, filled);
    return out;
  } catch (const std::exception&) {
    return Bytes(frame);
  }
}

}  // namespace

Bytes ComposeProfileFrame(BytesView frame, Composer& composer) {
  return BuildProfileFrame(frame, composer, true);
}

Bytes TokenFreeProfileFrame(BytesView frame, Composer& composer) {
  return BuildProfileFrame(frame, composer, false);
}

Bytes ComposeAwayFrame(BytesView frame, Composer& composer, const UpdateSettings& settings) {
  if (!settings.AwayUpdates()) return TokenFreeAwayFrame(frame, composer);
  return BuildAwayFrame(frame, composer, settings.AwayUsesBlock(), true);
}

Bytes TokenFreeAwayFrame(BytesView frame, Composer& composer) {
  return BuildAwayFrame(frame, composer, false, false);
}

}  // namespace quorvel
