#pragma once
// A host that relays everything unchanged: every frame goes back through AIMToServer or
// ServerToAIM (renumbered on the way), every unframed chunk through SendSock. Status texts go to a
// callback. It is what the headless front end runs until a host that inspects traffic replaces it.

#include <functional>
#include <string>

#include "proxy/proxy_host.h"

namespace quorvel {

class ForwardingHost : public ProxyHost {
 public:
  using EventSink = std::function<void(SlotIndex index, const std::string& description)>;

  ForwardingHost(ProxyControl& proxy, EventSink sink) : proxy_(proxy), sink_(std::move(sink)) {}

  void IncomingAIM(SlotIndex index, Bytes& data) override { proxy_.ServerToAIM(index, data); }
  void OutgoingAIM(SlotIndex index, Bytes& data) override { proxy_.AIMToServer(index, data); }
  void IncomingData(SlotIndex index, std::uint16_t /*port*/, Bytes& data) override {
    proxy_.SendSock(0, index, data);
  }
  void OutgoingData(SlotIndex index, std::uint16_t /*port*/, Bytes& data) override {
    proxy_.SendSock(1, index, data);
  }
  void SocketEvent(SlotIndex index, const std::string& description) override {
    if (sink_) sink_(index, description);
  }

 private:
  ProxyControl& proxy_;
  EventSink sink_;
};

// "Socket (" index "): " description, as the event log shows a socket event.
inline std::string SocketEventLine(SlotIndex index, const std::string& description) {
  return "Socket (" + std::to_string(index) + "): " + description;
}

}  // namespace quorvel
