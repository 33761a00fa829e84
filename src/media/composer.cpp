#include "media/composer.h"

#include <vector>

#include "media/field_format.h"
#include "media/text_case.h"
#include "media/time_text.h"
#include "media/title_parser.h"
#include "media/token_free_text.h"
#include "wire/replace.h"

namespace quorvel {

Composer::Composer(MediaPlayer& player, const FormatSettings& settings)
    : player_(player), settings_(settings) {}

bool Composer::Refresh() {
  snapshot_ = player_.Query();
  if (!snapshot_.found) {
    return false;
  }
  // A track that cannot be read leaves the last artist, song and album in force.
  if (snapshot_.track) {
    artist_ = snapshot_.track->artist;
    song_ = snapshot_.track->song;
    album_ = snapshot_.track->album;
  }
  return !artist_.empty() || !song_.empty();
}

Bytes Composer::ComposeText(BytesView text) {
  if (!Refresh()) {
    return FillWithoutTrack(text);
  }
  return FillTokens(text);
}

Bytes Composer::FillTokens(BytesView templateText) const {
  Bytes text = ReplaceWithin(templateText, settings_.BlockToken(), BlockText());
  const bool limitOnly = settings_.LimitOnly();
  const bool bufferOn = settings_.BufferOn();
  const Bytes bufferText = settings_.BufferText();
  const int status = snapshot_.found ? snapshot_.playStatus : -1;

  // The fields are filled one after another in the growing text, so a value that holds a later
  // field's token has that token filled too.
  for (int i = 0; i < kMediaFieldCount; ++i) {
    const auto field = static_cast<MediaField>(i);
    const FieldFormat format = settings_.Field(field);
    Bytes value;
    switch (field) {
      case MediaField::kArtist:
        value = ApplyCase(artist_, format.caseMode);
        break;
      case MediaField::kSong:
        value = ApplyCase(song_, format.caseMode);
        break;
      case MediaField::kStatus:
        value = ApplyCase(PlayStatusText(status), format.caseMode);
        break;
      case MediaField::kTime:
        value = TimeText(ElapsedSeconds(snapshot_.elapsedMs));
        break;
      case MediaField::kTotalTime:
        value = TimeText(snapshot_.totalSeconds);
        break;
      case MediaField::kAlbum:
        value = ApplyCase(album_, format.caseMode);
        break;
    }
    value = BufferValue(value, bufferOn, bufferText);
    value = FitField(value, ParseFieldLength(format.lengthText), format.justification,
                     format.padText, limitOnly);
    text = ReplaceWithin(text, format.token, value);
  }
  return text;
}

Bytes Composer::FillWithoutTrack(BytesView templateText) const {
  const Bytes blockToken = settings_.BlockToken();
  const Bytes text = ReplaceWithin(templateText, blockToken, BlockText());
  // The block token too, for a block too large to be put in.
  std::vector<Bytes> tokens{blockToken};
  for (int i = 0; i < kMediaFieldCount; ++i) {
    tokens.push_back(settings_.Field(static_cast<MediaField>(i)).token);
  }
  return TokenFreeText(text, tokens);
}

Bytes Composer::BlockText() const {
  return ReplaceAll(settings_.Block(), "\r\n", "<BR>");
}

}  // namespace quorvel
