#pragma once
// A scripted media player and plain-value format settings for composition tests.

#include <array>
#include <deque>
#include <utility>

#include "media/format_settings.h"
#include "media/media_player.h"

namespace quorvel::testing {

// Answers Query() with the snapshots of its script in turn, the last one repeatedly; lists
// `present`, and keeps the choice and the watch it is given.
struct FakePlayer : MediaPlayer {
  PlayerSnapshot Query() override {
    PlayerSnapshot next = script.empty() ? PlayerSnapshot{} : script.front();
    if (script.size() > 1) script.pop_front();
    return next;
  }
  std::string Describe() const override { return "fake"; }
  void SetChoice(const PlayerChoice& c) override { choice = c; }
  PlayerList ListPlayers() override { return present; }
  void Watch(PlayerWatch w) override { watch = std::move(w); }

  std::deque<PlayerSnapshot> script;
  PlayerList present;
  PlayerChoice choice;
  PlayerWatch watch;
};

// The settings as plain values, starting from the initial contents of the Replace pages.
struct PlainSettings : FormatSettings {
  std::array<FieldFormat, kMediaFieldCount> fields = {
      FieldFormat{"%a", 0, "0", "_", "Center"}, FieldFormat{"%s", 0, "0", "_", "Center"},
      FieldFormat{"%p", 0, "0", "_", "Center"}, FieldFormat{"%t", 0, "0", "_", "Center"},
      FieldFormat{"%x", 0, "0", "_", "Center"}, FieldFormat{"%l", 0, "0", "_", "Center"}};
  bool limitOnly = false, bufferOn = false;
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
