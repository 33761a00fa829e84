// Arbitrary client and server frames through the traffic monitor, with timer ticks between them:
// every frame must be sent on exactly once, as one frame of at most 65535 data bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "media/composer.h"
#include "monitor/traffic_monitor.h"
#include "wire/flap.h"

namespace {

using namespace quorvel;

class CountingRelay : public RelayControl {
 public:
  void StartListening(std::uint16_t) override {}
  void StopListening() override {}
  bool IsClientConnected(SlotIndex) const override { return true; }
  ConnectionId ClientConnection(SlotIndex slot) const override { return ConnectionId(slot); }
  std::uint16_t ListeningPort() const override { return 0; }
  int ClientCount() const override { return 0; }
  void SendBytes(Toward, SlotIndex, BytesView) override { ++sends; }
  void SendFrame(Toward, SlotIndex, Bytes& frame) override { Check(frame); }
  static void Check(const Bytes& data) {
    if (data.size() > kFlapHeaderSize + kMaxFlapDataLength) std::abort();
    ++sends;
  }
  static inline int sends = 0;
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
    static const char* const kTokens[] = {"%a", "%s", "%p", "%t", "%x"};
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
  unsigned switches = 0;
};

}  // namespace

// Input: a switches byte, then records of one control byte (bit 0: direction, bit 1: tick after,
// bit 2: new track) and a two-byte length, followed by that many bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  CountingRelay relay;
  InputPlayer player;
  Settings settings;
  settings.switches = data[0];
  Composer composer(player, settings);
  EventLog log;
  TrafficMonitor monitor(relay, composer, settings, log);

  std::size_t pos = 1;
  while (pos + 3 <= size) {
    const std::uint8_t control = data[pos];
    std::size_t n = static_cast<std::size_t>(data[pos + 1]) << 8 | data[pos + 2];
    pos += 3;
    if (n > size - pos) n = size - pos;
    Bytes frame(reinterpret_cast<const char*>(data + pos), n);
    pos += n;
    if ((control & 4) != 0) {
      player.snapshot.found = !frame.empty();
      player.snapshot.track =
          Track{frame.substr(0, frame.size() / 2), frame.substr(frame.size() / 2)};
      continue;
    }
    const int before = CountingRelay::sends;
    if ((control & 1) != 0) {
      monitor.FrameFromClient(1, frame);
    } else {
      monitor.FrameFromServer(1, frame);
    }
    if (CountingRelay::sends != before + 1) std::abort();
    if ((control & 2) != 0) monitor.RunTimedUpdates();
  }
  return 0;
}
