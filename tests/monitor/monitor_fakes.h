#pragma once
// Fakes for driving the traffic monitor without sockets: a relay that records what the host sends,
// a player whose snapshot the test sets, and plain update switches; and frame builders.

#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "media/fake_media.h"
#include "proxy/relay_host.h"
#include "wire/tlv.h"
#include "wire/word.h"

namespace quorvel::testing {

// What the host sent: 'S' a frame to the server, 'C' a frame to the client, 's'/'c' raw bytes to
// server/client; the slot; the bytes.
using Sent = std::tuple<char, SlotIndex, Bytes>;

// Each slot holds a connection named by the slot's number unless `connections` says otherwise (0:
// none).
struct RecordingRelay : RelayControl {
  void StartListening(std::uint16_t) override {}
  void StopListening() override {}
  bool IsClientConnected(SlotIndex) const override { return true; }
  ConnectionId ClientConnection(SlotIndex slot) const override {
    const auto found = connections.find(slot);
    return found == connections.end() ? ConnectionId(slot) : found->second;
  }
  std::uint16_t ListeningPort() const override { return 0; }
  int ClientCount() const override { return 0; }
  void SendBytes(Toward to, SlotIndex i, BytesView d) override {
    sent.emplace_back(to == Toward::kServer ? 's' : 'c', i, d);
  }
  void SendFrame(Toward to, SlotIndex i, Bytes& d) override {
    sent.emplace_back(to == Toward::kServer ? 'S' : 'C', i, d);
  }
  std::vector<Sent> sent;
  std::map<SlotIndex, ConnectionId> connections;
};

// A player that answers with a readable track.
inline PlayerSnapshot Playing(const std::string& artist, const std::string& song) {
  return {true, Track{artist, song}, kPlayPlaying};
}

// A player whose snapshot the test sets.
struct SwitchablePlayer : FakePlayer {
  PlayerSnapshot Query() override { return snapshot; }
  PlayerSnapshot snapshot = Playing("Band", "Tune");
};

struct PlainUpdates : UpdateSettings {
  bool Enabled() const override { return enabled; }
  bool ProfileUpdates() const override { return profile; }
  bool AwayUpdates() const override { return away; }
  bool AwayUsesBlock() const override { return block; }
  bool SendOnChange() const override { return onChange; }
  bool enabled = true, profile = true, away = true, block = false, onChange = true;
};

// A SNAC of `family`/`subtype`: its header, then `data`.
inline Bytes Snac(int family, int subtype, BytesView data) {
  return IntToWord(family) + IntToWord(subtype) + Bytes(6, '\0') + Bytes(data);
}

// A FLAP frame on `channel` around `p`, numbered `seq`, with its true length.
inline Bytes Flap(BytesView p, int seq = 0, char channel = 2) {
  return Bytes{'*', channel} + IntToWord(seq) + IntToWord(static_cast<int>(p.size())) + Bytes(p);
}

// The SNAC of an instant message to `buddy` on channel 1, as clients send it: a cookie, the
// channel, the name, then TLV 2 holding the capabilities fragment and one text fragment of
// `charset` (0 ASCII, 2 UCS-2, 3 ISO-8859-1).
inline Bytes InstantMessage(BytesView text, BytesView buddy = "alice", int charset = 0) {
  const Bytes fragments = Bytes{5, 1, 0, 1, 1} + Bytes{1, 1} +
                          IntToWord(static_cast<int>(text.size()) + 4) + IntToWord(charset) +
                          Bytes{0, 0} + Bytes(text);
  return Snac(4, 6,
              Bytes(8, '\x11') + Bytes{0, 1} + static_cast<char>(buddy.size()) + Bytes(buddy) +
                  MakeTLV(2, fragments) + MakeTLV(6, ""));
}

}  // namespace quorvel::testing
