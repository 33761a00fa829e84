#pragma once
// The settings that composition reads afresh at every use. The window implements them by reading
// its controls (an edit takes effect at the next composition); the headless front end implements
// them from the loaded preferences; tests use plain values.

#include <array>
#include <cstdint>

#include "wire/bytes.h"

namespace quorvel {

// The six media fields, in the order their tokens are filled.
enum class MediaField : int {
  kArtist = 0,
  kSong = 1,
  kStatus = 2,
  kTime = 3,
  kTotalTime = 4,
  kAlbum = 5,
};
inline constexpr int kMediaFieldCount = 6;

// Case modes, as positions in the list "None", "UPPER", "First Cap", "lower"; -1 when the user
// typed text that is not an item (treated as lower case).
inline constexpr int kCaseNone = 0;
inline constexpr int kCaseUpper = 1;
inline constexpr int kCaseFirstCap = 2;
inline constexpr int kCaseLower = 3;

// How one field's value is formatted. Texts are UTF-8.
struct FieldFormat {
  Bytes token;          // replaced wherever it occurs ("%a" ...)
  int caseMode = 0;     // applied to artist, song, status and album only
  Bytes lengthText;     // the length box as typed; see ParseFieldLength
  Bytes padText;        // "using": the text that pads a short value
  Bytes justification;  // "Right" and "Center" are special, anything else pads on the right
};

class FormatSettings {
 public:
  virtual ~FormatSettings() = default;
  virtual FieldFormat Field(MediaField field) const = 0;
  virtual bool LimitOnly() const = 0;    // a length only shortens, never pads
  virtual bool BufferOn() const = 0;     // wrap every value in BufferText()
  virtual Bytes BufferText() const = 0;  // each "var" stands for the value
  virtual Bytes BlockToken() const = 0;  // the token of the Replace Continued block
  virtual Bytes Block() const = 0;       // the block, lines separated by CR LF
};

// The switches of the periodic profile and away updates.
class UpdateSettings {
 public:
  virtual ~UpdateSettings() = default;
  virtual bool Enabled() const = 0;         // "Enable Quorvel"
  virtual bool ProfileUpdates() const = 0;  // show media stats in the profile
  virtual bool AwayUpdates() const = 0;     // show media stats in the away message
  virtual bool AwayUsesBlock() const = 0;   // away text made from the Replace Continued block
  virtual bool SendOnChange() const = 0;    // an update is sent only when its frame changed
};

}  // namespace quorvel
