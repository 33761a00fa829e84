#pragma once
// Fakes for driving the traffic monitor without sockets or a real player: a relay that records
// what the host sends, a player with a switchable track, and plain update switches.

#include <string>
#include <vector>

#include "media/format_settings.h"
#include "media/media_player.h"
#include "proxy/proxy_host.h"
#include "wire/bytes.h"
#include "wire/tlv.h"
#include "wire/word.h"

namespace quorvel::testing {

struct Sent {
  enum Kind { kToServer, kToClient, kRawToClient, kRawToServer } kind;
  SlotIndex index;
  Bytes data;
};

class RecordingProxy : public ProxyControl {
 public:
  void StartListen(std::uint16_t) override {}
  void StopListen() override {}
  bool Connection(SlotIndex) const override { return true; }
  void SendSock(int sockType, SlotIndex index, BytesView data) override {
    sent.push_back({sockType == 0 ? Sent::kRawToClient : Sent::kRawToServer, index, Bytes(data)});
  }
  void AIMToServer(SlotIndex index, Bytes& data) override {
    sent.push_back({Sent::kToServer, index, data});
  }
  void ServerToAIM(SlotIndex index, Bytes& data) override {
    sent.push_back({Sent::kToClient, index, data});
  }

  std::vector<Sent> sent;
};

// A player whose track the test switches at will (or takes away).
class SwitchablePlayer : public MediaPlayer {
 public:
  PlayerSnapshot Query() override {
    ++queries;
    return snapshot;
  }
  std::string Describe() const override { return "fake"; }

  void Play(Bytes artist, Bytes song) {
    snapshot.found = true;
    snapshot.track = Track{std::move(artist), std::move(song)};
    snapshot.playStatus = kPlayPlaying;
    snapshot.elapsedMs = 65000;
    snapshot.totalSeconds = 200;
  }
  void Vanish() { snapshot = PlayerSnapshot{}; }

  PlayerSnapshot snapshot;
  int queries = 0;
};

class PlainUpdates : public UpdateSettings {
 public:
  bool Enabled() const override { return enabled; }
  bool ProfileUpdates() const override { return profile; }
  bool AwayUpdates() const override { return away; }
  bool AwayUsesBlock() const override { return block; }

  bool enabled = true;
  bool profile = true;
  bool away = true;
  bool block = false;
};

// A FLAP frame with a stale header (sequence and length zero, as a builder leaves them) around a
// SNAC of `family`/`subtype` whose data is `snacData`.
inline Bytes SnacFrame(int family, int subtype, BytesView snacData, int channel = 2) {
  Bytes frame{'*', static_cast<char>(channel), 0, 0};
  frame += IntToWord(static_cast<std::int32_t>(10 + snacData.size()));
  frame += IntToWord(family) + IntToWord(subtype);
  frame += Bytes(6, '\0');
  frame += snacData;
  return frame;
}

inline Bytes Tlv(std::int32_t type, BytesView value) {
  return MakeTLV(type, value);
}

}  // namespace quorvel::testing
