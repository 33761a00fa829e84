#pragma once
// A host that relays everything unchanged: every frame goes back through SendFrame (renumbered on
// the way), every unframed chunk through SendBytes. Events go to a callback. Told to want nothing,
// it leaves all traffic to the relay to pass on.

#include <functional>
#include <string>
#include <utility>

#include "proxy/relay_host.h"

namespace quorvel::testing {

class ForwardingHost : public RelayHost {
 public:
  using EventSink = std::function<void(SlotIndex slot, const std::string& text)>;

  ForwardingHost(RelayControl& relay, EventSink sink, bool wantsTraffic = true)
      : relay_(relay), sink_(std::move(sink)), wantsTraffic_(wantsTraffic) {}

  FrameInterest FramesWantedFromClient() const override { return Interest(); }
  FrameInterest FramesWantedFromServer() const override { return Interest(); }
  bool WantsBytes() const override { return wantsTraffic_; }

  void FrameFromClient(SlotIndex i, Bytes& f) override { relay_.SendFrame(Toward::kServer, i, f); }
  void FrameFromServer(SlotIndex i, Bytes& f) override { relay_.SendFrame(Toward::kClient, i, f); }
  void BytesFromClient(SlotIndex slot, std::uint16_t /*port*/, Bytes& data) override {
    relay_.SendBytes(Toward::kServer, slot, data);
  }
  void BytesFromServer(SlotIndex slot, std::uint16_t /*port*/, Bytes& data) override {
    relay_.SendBytes(Toward::kClient, slot, data);
  }
  void RelayEvent(SlotIndex slot, const std::string& text) override {
    if (sink_) sink_(slot, text);
  }

 private:
  FrameInterest Interest() const {
    return wantsTraffic_ ? FrameInterest::All() : FrameInterest::None();
  }

  RelayControl& relay_;
  EventSink sink_;
  bool wantsTraffic_;
};

}  // namespace quorvel::testing
