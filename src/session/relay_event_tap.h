#pragma once
// A relay host in front of another: passes every frame, chunk and event on unchanged, wants
// what that host wants, and tells a listener of each event once the host has seen it, so that a
// front end can follow the listener's state (a failed start, connections coming and going)
// without being the host.

#include <functional>
#include <string>
#include <utility>

#include "proxy/relay_host.h"

namespace quorvel {

class RelayEventTap : public RelayHost {
 public:
  using Listener = std::function<void(SlotIndex slot, const std::string& text)>;

  // `host` must outlive the tap.
  explicit RelayEventTap(RelayHost& host, Listener listener = {})
      : host_(host), listener_(std::move(listener)) {}

  FrameInterest FramesWantedFromClient() const override { return host_.FramesWantedFromClient(); }
  FrameInterest FramesWantedFromServer() const override { return host_.FramesWantedFromServer(); }
  bool WantsBytes() const override { return host_.WantsBytes(); }
  void FrameFromClient(SlotIndex slot, Bytes& frame) override {
    host_.FrameFromClient(slot, frame);
  }
  void FrameFromServer(SlotIndex slot, Bytes& frame) override {
    host_.FrameFromServer(slot, frame);
  }
  void BytesFromClient(SlotIndex slot, std::uint16_t port, Bytes& data) override {
    host_.BytesFromClient(slot, port, data);
  }
  void BytesFromServer(SlotIndex slot, std::uint16_t port, Bytes& data) override {
    host_.BytesFromServer(slot, port, data);
  }
  void RelayEvent(SlotIndex slot, const std::string& text) override {
    host_.RelayEvent(slot, text);
    if (listener_) listener_(slot, text);
  }

 private:
  RelayHost& host_;
  Listener listener_;
};

}  // namespace quorvel
