// Arbitrary bytes into title parsing, the split of untagged titles and field fitting: no crash, no
// overrun, and the results keep their promises (pieces of the title; an untagged title rebuilt
// from its artist and song, less an extension at most; prefixes cut on character boundaries; the
// value kept whole inside its padding).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "media/field_format.h"
#include "media/title_parser.h"
#include "media/title_split.h"
#include "media/utf8_text.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The title up to the first NUL, the URL after it: the track is the title split at its first
// " - ", after a dot and one to four letters or digits at most were cut off its end.
void CheckSplit(quorvel::BytesView input) {
  using namespace quorvel;
  const std::size_t nul = input.find('\0');
  const BytesView title = input.substr(0, nul);
  const BytesView url = nul == BytesView::npos ? BytesView() : input.substr(nul + 1);
  const auto track = TrackFromTags({"", Bytes(title), "", Bytes(url)});
  if (!track) {
    const BytesView base = FileNameOfUrl(url) == title ? WithoutExtension(title) : title;
    Check(base.empty() || base == " - ");
    return;
  }
  Check(track->album.empty());
  Check(track->artist.find(" - ") == Bytes::npos);
  const Bytes rebuilt = track->artist.empty() && title.find(" - ") != 0
                            ? track->song
                            : track->artist + " - " + track->song;
  Check(title.substr(0, rebuilt.size()) == rebuilt);
  const BytesView cut = title.substr(rebuilt.size());
  Check(cut.empty() ||
        (cut.size() >= 2 && cut.size() <= 5 && cut[0] == '.' &&
         std::all_of(cut.begin() + 1, cut.end(), IsAsciiAlnum) && FileNameOfUrl(url) == title));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvel;
  const BytesView input(reinterpret_cast<const char*>(data), size);

  if (const auto track = ParseTitle(input)) {
    Check(track->artist == "TV" || input.find(track->artist) != BytesView::npos);
    Check(input.find(track->song) != BytesView::npos);
  }
  CheckSplit(input);

  // FitField: two bytes of length, one of switches, then the value and the pad text split at the
  // first NUL.
  if (size < 3) {
    return 0;
  }
  const auto length = static_cast<std::int16_t>((data[0] << 8) | data[1]);
  const bool limitOnly = (data[2] & 1) != 0;
  static constexpr BytesView kJustifications[] = {"Center", "Left", "Right", "right", ""};
  const BytesView justification = kJustifications[(data[2] >> 1) % 5];
  BytesView rest = input.substr(3);
  const std::size_t split = rest.find('\0');
  const BytesView value = rest.substr(0, split);
  const BytesView pad = split == BytesView::npos ? BytesView() : rest.substr(split + 1);

  const Bytes result = FitField(value, length, justification, pad, limitOnly);
  const std::size_t chars = CharCount(value);
  if (length >= 1 && chars >= static_cast<std::size_t>(length)) {
    // Cut: a prefix that ends on a character boundary and holds exactly `length` characters.
    Check(value.substr(0, result.size()) == result);
    Check(CharCount(result) == static_cast<std::size_t>(length));
    Check(CharCount(result) + CharCount(value.substr(result.size())) == chars);
  } else if (length < 1 || limitOnly) {
    Check(result == value);
  } else {
    Check(result.find(value) != Bytes::npos);
    Check(result.size() <= std::max(value.size(), kMaxComposedBytes));
    if (justification == "Right") {
      Check(result.substr(result.size() - value.size()) == value);
    } else if (justification != "Center") {
      Check(result.substr(0, value.size()) == value);
    }
    if (pad.size() == 1 && static_cast<unsigned char>(pad[0]) < 0x80) {
      Check(CharCount(result) == static_cast<std::size_t>(length));
    }
  }
  return 0;
}
