#pragma once
// A relay on the fake network whose host relays like the forwarding host and records every event
// as a line; the requests and frames the tests send.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
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

// A relay listening on the fake network. As its host it sends each frame and chunk back on its way
// (frames renumbered), then records it as a line ("FrameFromClient 1: 2A 02 ...", as it came) and
// calls `hook`; the relay's own events are recorded as the event log shows them.
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
  FrameInterest FramesWantedFromClient() const override {
    return wants.value_or(FrameInterest::All());
  }
  FrameInterest FramesWantedFromServer() const override {
    return wants.value_or(FrameInterest::All());
  }
  bool WantsBytes() const override { return !wants; }
  void FrameFromClient(int i, Bytes& d) override { Raise("FrameFromClient", i, d); }
  void FrameFromServer(int i, Bytes& d) override { Raise("FrameFromServer", i, d); }
  void BytesFromClient(int i, std::uint16_t p, Bytes& d) override {
    Raise("BytesFromClient", i, d, p);
  }
  void BytesFromServer(int i, std::uint16_t p, Bytes& d) override {
    Raise("BytesFromServer", i, d, p);
  }
  void RelayEvent(int i, const std::string& text) override { Log(RelayEventLine(i, text)); }
  void Raise(std::string_view name, int i, Bytes& d, std::uint16_t port = 0) {
    const std::string line = std::string(name) + ' ' + std::to_string(i) +
                             (port ? " port " + std::to_string(port) : "") + ": " + ToHex(d);
    const Toward toward = name.ends_with("Client") ? Toward::kServer : Toward::kClient;
    name.starts_with("Frame") ? relay.SendFrame(toward, i, d) : relay.SendBytes(toward, i, d);
    Log(line);
  }
  void Log(const std::string& line) {
    events.push_back(line);
    if (hook) hook(line);
  }

  testing::FakeNetwork net;
  Relay relay{net, this};
  Lines events;
  std::function<void(const std::string&)> hook;
  std::optional<FrameInterest> wants;  // unset: every frame and chunk is raised
};

}  // namespace quorvel
