#pragma once
// A relay on the fake network whose host records every event as a line and relays like the
// forwarding host; the requests and frames the tests send.

#include <functional>
#include <string>
#include <vector>

#include "fake_socket.h"
#include "forwarding_host.h"
#include "proxy/relay.h"
#include "proxy/relay_events.h"
#include "test_bytes.h"
#include "wire/word.h"

namespace quorvel {

using testing::FakeSocket;
using testing::Hex;
using testing::ToHex;
using Lines = std::vector<std::string>;

// A SOCKS4 CONNECT for 192.0.2.10:port.
inline Bytes Request(int port, const std::string& userId = "u") {
  return Hex("04 01") + IntToWord(port) + Hex("C0 00 02 0A") + userId + '\0';
}
inline Bytes Frame(int seq, std::size_t size, char fill = 'x') {
  return Hex("2A 02") + IntToWord(seq) + WordLenString(Bytes(size, fill));
}

// A relay listening on the fake network. As its host it relays frames and chunks like the
// forwarding host, then records each as a line ("FrameFromClient 1: 2A 02 ...") and calls `hook`;
// the relay's own events are recorded as the event log shows them.
struct Rig : RelayHost {
  Rig() { relay.StartListening(3131); }
  FakeSocket& Client(SlotIndex i) { return static_cast<FakeSocket&>(relay.ClientSocket(i)); }
  FakeSocket& Server(SlotIndex i) { return static_cast<FakeSocket&>(relay.ServerSocket(i)); }
  // A client connects; the slot it landed in (0: none).
  SlotIndex ClientConnects() {
    net.accepted = nullptr;
    net.ClientConnects();
    for (SlotIndex i = 1; i <= relay.HighestSlot(); ++i) {
      if (&relay.ClientSocket(i) == net.accepted) return i;
    }
    return 0;
  }
  // A new client with its server connection standing; events and bytes so far are cleared.
  SlotIndex Relaying(int port = 5190) {
    const SlotIndex i = ClientConnects();
    Client(i).Arrive(Request(port));
    Server(i).CompleteConnect();
    Client(i).TakeSent();
    events.clear();
    return i;
  }

  // Which frames and chunks the host sees; the relay passes the rest on by itself.
  bool WantsFrameFromClient(BytesView frame) const override { return !wants || wants(frame); }
  bool WantsFrameFromServer(BytesView frame) const override { return !wants || wants(frame); }
  bool WantsBytes() const override { return !wants; }
  void FrameFromClient(int i, Bytes& d) override {
    Log(Line("FrameFromClient", i, d), [&] { forward.FrameFromClient(i, d); });
  }
  void FrameFromServer(int i, Bytes& d) override {
    Log(Line("FrameFromServer", i, d), [&] { forward.FrameFromServer(i, d); });
  }
  void BytesFromClient(int i, std::uint16_t p, Bytes& d) override {
    Log(Line("BytesFromClient", i, d, p), [&] { forward.BytesFromClient(i, p, d); });
  }
  void BytesFromServer(int i, std::uint16_t p, Bytes& d) override {
    Log(Line("BytesFromServer", i, d, p), [&] { forward.BytesFromServer(i, p, d); });
  }
  void RelayEvent(int i, const std::string& text) override { Log(RelayEventLine(i, text)); }
  static std::string Line(const char* name, int i, BytesView d, std::uint16_t port = 0) {
    return name + (" " + std::to_string(i)) + (port ? " port " + std::to_string(port) : "") + ": " +
           ToHex(d);
  }
  void Log(const std::string& line, const std::function<void()>& pass = nullptr) {
    if (pass) pass();
    events.push_back(line);
    if (hook) hook(line);
  }

  testing::FakeNetwork net;
  Relay relay{net, this};
  testing::ForwardingHost forward{relay, nullptr};
  Lines events;
  std::function<void(const std::string&)> hook;
  std::function<bool(BytesView)> wants;  // unset: every frame and chunk is raised
};

}  // namespace quorvel
