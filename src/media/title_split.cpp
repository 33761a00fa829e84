#include "media/title_split.h"

#include <cstddef>

namespace quorvel {

namespace {

constexpr BytesView kSeparator = " - ";
constexpr std::size_t kMaxExtension = 4;

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr BytesView kFileScheme = "file:";

// Schemes are matched without regard to case ("FILE:" too).
bool StartsWithFileScheme(BytesView url) {
  if (url.size() < kFileScheme.size()) {
    return false;
  }
  for (std::size_t i = 0; i < kFileScheme.size(); ++i) {
    const char c = url[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kFileScheme[i]) {
      return false;
    }
  }
  return true;
}

// "%XX" sequences as the bytes they stand for; a "%" without two hex digits stays as it is.
Bytes PercentDecoded(BytesView text) {
  Bytes decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    decoded += text[i];
  }
  return decoded;
}

}  // namespace

Bytes FileNameOfUrl(BytesView url) {
  if (!StartsWithFileScheme(url)) {
    return {};
  }
  // A file URL may still carry a query or a fragment; neither belongs to the name.
  BytesView path = url.substr(kFileScheme.size());
  path = path.substr(0, path.find_first_of("?#"));
  const std::size_t slash = path.rfind('/');
  return PercentDecoded(slash == BytesView::npos ? path : path.substr(slash + 1));
}

BytesView WithoutExtension(BytesView name) {
  const std::size_t dot = name.rfind('.');
  if (dot == BytesView::npos || dot == 0) {
    return name;
  }
  const std::size_t length = name.size() - dot - 1;
  if (length < 1 || length > kMaxExtension) {
    return name;
  }
  for (std::size_t i = dot + 1; i < name.size(); ++i) {
    if (!IsAsciiAlnum(name[i])) {
      return name;
    }
  }
  return name.substr(0, dot);
}

std::optional<Track> TrackFromTags(const TrackTags& tags) {
  Track track;
  track.album = tags.album;
  if (!tags.artist.empty()) {
    track.artist = tags.artist;
    track.song = tags.title;
    return track;
  }
  BytesView title = tags.title;
  if (!title.empty() && FileNameOfUrl(tags.url) == title) {
    title = WithoutExtension(title);
  }
  const std::size_t separator = title.find(kSeparator);
  if (separator == BytesView::npos) {
    track.song = title;
  } else {
    track.artist = title.substr(0, separator);
    track.song = title.substr(separator + kSeparator.size());
  }
  if (track.artist.empty() && track.song.empty()) {
    return std::nullopt;
  }
  return track;
}

}  // namespace quorvel
