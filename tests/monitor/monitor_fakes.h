#pragma once
// Fakes for driving the traffic monitor without sockets: a relay that records what the host sends,
// a player whose snapshot the test sets, and plain update switches; and frame builders.

#include <string>
#include <tuple>
#include <vector>

#include "media/fake_media.h"
#include "proxy/relay_host.h"
#include "wire/tlv.h"
#include "wire/word.h"

namespace quorvel::testing {

// What the host sent: 'S' a frame to the server, 'C' a frame to the client, 's'/'c' raw bytes to
// server/client; the slot; the bytes.
using Sent = std::tuple<char, SlotIndex, Bytes>;

struct RecordingRelay : RelayControl {
  void StartListening(std::uint16_t) override {}
  void StopListening() override {}
  bool IsClientConnected(SlotIndex) const override { return true; }
  ConnectionId ClientConnection(SlotIndex slot) const override { return ConnectionId(slot); }
  std::uint16_t ListeningPort() const override { return 0; }
  int ClientCount() const override { return 0; }
  void SendBytes(Toward to, SlotIndex i, BytesView d) override {
    sent.emplace_back(to == Toward::kServer ? 's' : 'c', i, d);
  }
  void SendFrame(Toward to, SlotIndex i, Bytes& d) override {
    sent.emplace_back(to == Toward::kServer ? 'S' : 'C', i, d);
  }
  std::vector<Sent> sent;
};

// A player that answers with a readable track.
inline PlayerSnapshot Playing(const std::string& artist, const std::string& song) {
  PlayerSnapshot s;
  s.found = true;
  s.track = Track{artist, song};
  s.playStatus = kPlayPlaying;
  return s;
}

struct SwitchablePlayer : MediaPlayer {
  PlayerSnapshot Query() override { return snapshot; }
  std::string Describe() const override { return "fake"; }
  PlayerSnapshot snapshot = Playing("Band", "Tune");
};

struct PlainUpdates : UpdateSettings {
  bool Enabled() const override { return enabled; }
  bool ProfileUpdates() const override { return profile; }
  bool AwayUpdates() const override { return away; }
  bool AwayUsesBlock() const override { return block; }
  bool enabled = true, profile = true, away = true, block = false;
};

// A SNAC of `family`/`subtype`: its header, then `data`.
inline Bytes Snac(int family, int subtype, BytesView data) {
  return IntToWord(family) + IntToWord(subtype) + Bytes(6, '\0') + Bytes(data);
}

// A FLAP frame on `channel` around `p`, numbered `seq`, with its true length.
inline Bytes Flap(BytesView p, int seq = 0, char channel = 2) {
  return Bytes{'*', channel} + IntToWord(seq) + IntToWord(static_cast<int>(p.size())) + Bytes(p);
}

}  // namespace quorvel::testing
