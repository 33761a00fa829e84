#pragma once
// A scripted media player and plain-value format settings for composition tests.

#include <array>
#include <deque>
#include <string>

#include "media/format_settings.h"
#include "media/media_player.h"

namespace quorvel::testing {

// Answers Query() with the next scripted snapshot, repeating the last one; counts the queries.
class FakePlayer : public MediaPlayer {
 public:
  void Push(PlayerSnapshot snapshot) { script_.push_back(std::move(snapshot)); }
  PlayerSnapshot Query() override {
    ++queries;
    if (script_.size() > 1) {
      PlayerSnapshot next = script_.front();
      script_.pop_front();
      return next;
    }
    return script_.empty() ? PlayerSnapshot{} : script_.front();
  }
  std::string Describe() const override { return "fake"; }
  int queries = 0;

 private:
  std::deque<PlayerSnapshot> script_;
};

inline PlayerSnapshot Playing(const std::string& artist, const std::string& song,
                              int status = kPlayPlaying, std::int64_t elapsedMs = 0,
                              std::int64_t totalSeconds = 0) {
  PlayerSnapshot s;
  s.found = true;
  s.track = Track{artist, song};
  s.playStatus = status;
  s.elapsedMs = elapsedMs;
  s.totalSeconds = totalSeconds;
  return s;
}

// The settings as plain values, starting from the initial contents of the Replace pages.
struct PlainSettings : FormatSettings {
  std::array<FieldFormat, kMediaFieldCount> fields = {
      FieldFormat{"%a", 0, "0", "_", "Center"}, FieldFormat{"%s", 0, "0", "_", "Center"},
      FieldFormat{"%p", 0, "0", "_", "Center"}, FieldFormat{"%t", 0, "0", "_", "Center"},
      FieldFormat{"%x", 0, "0", "_", "Center"}};
  bool limitOnly = false;
  bool bufferOn = false;
  Bytes bufferText = "Text1";
  Bytes blockToken = "What You Want Replaced";
  Bytes block = "line one\r\nline two\r\n";

  FieldFormat& Of(MediaField f) { return fields[static_cast<std::size_t>(f)]; }
  FieldFormat Field(MediaField f) const override { return fields[static_cast<std::size_t>(f)]; }
  bool LimitOnly() const override { return limitOnly; }
  bool BufferOn() const override { return bufferOn; }
  Bytes BufferText() const override { return bufferText; }
  Bytes BlockToken() const override { return blockToken; }
  Bytes Block() const override { return block; }
};

}  // namespace quorvel::testing
