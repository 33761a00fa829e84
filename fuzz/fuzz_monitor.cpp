// Arbitrary client and server frames through the traffic monitor, on several connection slots whose
// clients come and go, with timer ticks between them: every frame must be sent on exactly once, as
// one frame of at most 65535 data bytes, and a tick may send only on a connection that itself sent
// something the monitor could have captured.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>

#include "media/composer.h"
#include "monitor/traffic_monitor.h"
#include "wire/flap.h"
#include "wire/tlv.h"
#include "wire/word.h"

namespace {

using namespace quorvel;

class CountingRelay : public RelayControl {
 public:
  void StartListening(std::uint16_t) override {}
  void StopListening() override {}
  bool IsClientConnected(SlotIndex slot) const override { return ClientConnection(slot) != 0; }
  ConnectionId ClientConnection(SlotIndex slot) const override {
    const auto found = connections.find(slot);
    return found == connections.end() ? ConnectionId(slot) : found->second;
  }
  std::uint16_t ListeningPort() const override { return 0; }
  int ClientCount() const override { return 0; }
  void SendBytes(Toward, SlotIndex, BytesView) override { ++sends; }
  void SendFrame(Toward, SlotIndex slot, Bytes& frame) override {
    if (frame.size() > kFlapHeaderSize + kMaxFlapDataLength) std::abort();
    if (ticking && !spoke.contains(ClientConnection(slot))) std::abort();
    ++sends;
  }
  int sends = 0;
  bool ticking = false;
  std::map<SlotIndex, ConnectionId> connections;
  std::set<ConnectionId> spoke;  // connections whose client sent a frame
};

// Plays a track whose artist and song come from the input, or nothing.
class InputPlayer : public MediaPlayer {
 public:
  PlayerSnapshot Query() override { return snapshot; }
  std::string Describe() const override { return "fuzz"; }
  PlayerSnapshot snapshot;
};

class Settings : public FormatSettings, public UpdateSettings {
 public:
  FieldFormat Field(MediaField field) const override {
    static const char* const kTokens[kMediaFieldCount] = {"%a", "%s", "%p", "%t", "%x", "%l"};
    return FieldFormat{kTokens[static_cast<int>(field)], 0, "0", "_", "Center"};
  }
  bool LimitOnly() const override { return false; }
  bool BufferOn() const override { return false; }
  Bytes BufferText() const override { return "var"; }
  Bytes BlockToken() const override { return "%b"; }
  Bytes Block() const override { return "%a\r\n%s"; }
  bool Enabled() const override { return (switches & 1) != 0; }
  bool ProfileUpdates() const override { return (switches & 2) != 0; }
  bool AwayUpdates() const override { return (switches & 4) != 0; }
  bool AwayUsesBlock() const override { return (switches & 8) != 0; }
  bool SendOnChange() const override { return (switches & 16) != 0; }
  unsigned switches = 0;
};

Bytes Framed(BytesView snac) {
  return Bytes{kFlapStart, 2} + IntToWord(1) + IntToWord(static_cast<int>(snac.size())) +
         Bytes(snac);
}

// The bytes as the text of an instant message, in the character set `charset`.
Bytes InstantMessage(BytesView text, int charset) {
  const Bytes fragment = Bytes{1, 1} + IntToWord(static_cast<int>(text.size()) + 4) +
                         IntToWord(charset) + Bytes{0, 0} + Bytes(text);
  return Framed(IntToWord(4) + IntToWord(6) + Bytes(6, '\0') + Bytes(8, 'c') + Bytes{0, 1} +
                "\3bob" + MakeTLV(2, fragment));
}

}  // namespace

// Input: a switches byte, then records of one control byte and a two-byte length, followed by
// that many bytes. Control bits: 0 the client's direction, 1 a tick after, 2 a new track from the
// bytes, 3 the slot's client is replaced first (by none when the bytes are empty), 4-5 the slot,
// 6 the bytes are an instant message's text (in UCS-2 when their length is even), 7 they are the
// away text of a set-user-information frame (with 6: the profile).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  CountingRelay relay;
  InputPlayer player;
  Settings settings;
  settings.switches = data[0];
  Composer composer(player, settings);
  EventLog log;
  TrafficMonitor monitor(relay, composer, settings, log);
  ConnectionId nextConnection = 100;

  std::size_t pos = 1;
  while (pos + 3 <= size) {
    const std::uint8_t control = data[pos];
    std::size_t n = static_cast<std::size_t>(data[pos + 1]) << 8 | data[pos + 2];
    pos += 3;
    if (n > size - pos) n = size - pos;
    Bytes bytes(reinterpret_cast<const char*>(data + pos), n);
    pos += n;
    if ((control & 4) != 0) {
      player.snapshot.found = !bytes.empty();
      player.snapshot.track =
          Track{bytes.substr(0, bytes.size() / 2), bytes.substr(bytes.size() / 2)};
      continue;
    }
    const SlotIndex slot = 1 + ((control >> 4) & 3);
    if ((control & 8) != 0) relay.connections[slot] = bytes.empty() ? 0 : nextConnection++;
    Bytes frame = bytes;
    const bool message = (control & 0x40) != 0, setInfo = (control & 0x80) != 0;
    if (setInfo && bytes.size() <= 65000) {
      const std::int32_t type = message ? kTlvProfile : kTlvAwayText;
      frame = Framed(IntToWord(2) + IntToWord(4) + Bytes(6, '\0') + MakeTLV(type, bytes));
    } else if (message && bytes.size() <= 65000) {
      frame = InstantMessage(bytes, bytes.size() % 2 == 0 ? 2 : 0);
    }
    const int before = relay.sends;
    if ((control & 1) != 0) {
      if (relay.ClientConnection(slot) != 0) relay.spoke.insert(relay.ClientConnection(slot));
      monitor.FrameFromClient(slot, frame);
    } else {
      monitor.FrameFromServer(slot, frame);
    }
    if (relay.sends != before + 1) std::abort();
    if ((control & 2) != 0) {
      relay.ticking = true;
      monitor.RunTimedUpdates();
      relay.ticking = false;
    }
  }
  return 0;
}
