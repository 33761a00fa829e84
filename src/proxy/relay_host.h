#pragma once
// The seam between the relay and the program that hosts it: the events that the relay raises
// synchronously (RelayHost), and the operations the host calls back into (RelayControl).

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>

#include "wire/bytes.h"
#include "wire/snac.h"

namespace quorvel {

// A connection slot: 1..32767 names a client connection and its server connection; 0 is the
// listener.
using SlotIndex = int;

// Names one client connection for as long as it lasts. Never reused within a run, so a host can
// tell a connection from a later one that lands in the same slot; 0 names none.
using ConnectionId = std::uint64_t;

// Where the relay sends: to the client of a slot, or to its server.
enum class Toward { kClient, kServer };

// The frames a host needs to see from one side: all of them, none, or those whose SNAC key
// (SnacKey) is one of a few. It is data rather than a call per frame, so that the relay can check
// every frame inline while it renumbers the frames of an arrival in place.
class FrameInterest {
 public:
  static constexpr std::size_t kMaxKeys = 4;

  static FrameInterest All() { return FrameInterest(true); }
  static FrameInterest None() { return FrameInterest(false); }
  // At most kMaxKeys keys; more is a programming error and throws.
  static FrameInterest Snacs(std::initializer_list<std::int32_t> keys) {
    if (keys.size() > kMaxKeys) throw std::length_error("FrameInterest: too many SNAC keys");
    FrameInterest interest(false);
    std::copy(keys.begin(), keys.end(), interest.keys_.begin());
    interest.count_ = keys.size();
    return interest;
  }

  bool Wants(BytesView frame) const noexcept {
    if (all_ || count_ == 0) return all_;
    const std::optional<std::int32_t> key = SnacKey(frame);
    return key && std::find(keys_.begin(), keys_.begin() + count_, *key) != keys_.begin() + count_;
  }

 private:
  explicit FrameInterest(bool all) : all_(all) {}

  bool all_;
  std::array<std::int32_t, kMaxKeys> keys_{};
  std::size_t count_ = 0;
};

// Receives the frames and chunks the relay reads. What a handler does not send back through
// RelayControl is dropped. Frames and chunks are handed over writable, so a handler may rewrite
// them before sending.
//
// A host says which traffic it needs to see. What it does not need, the relay sends on by itself,
// exactly as a handler that sends everything back unchanged would: a frame renumbered as by
// SendFrame, a chunk as by SendBytes. Such traffic is renumbered where it was read and leaves
// with the traffic around it in one write, without a copy per frame. By default a host sees
// everything.
class RelayHost {
 public:
  virtual ~RelayHost() = default;
  // The whole frames for which FrameFromClient (or FrameFromServer) is to be raised. Asked once
  // per arrival, before its frames are raised or passed on; must not call back into the relay.
  virtual FrameInterest FramesWantedFromClient() const { return FrameInterest::All(); }
  virtual FrameInterest FramesWantedFromServer() const { return FrameInterest::All(); }
  // Whether unframed chunks are raised (BytesFromClient, BytesFromServer) or passed on.
  virtual bool WantsBytes() const { return true; }
  // One whole FLAP frame from the client (destination port 5190).
  virtual void FrameFromClient(SlotIndex slot, Bytes& frame) = 0;
  // One whole FLAP frame from the server (destination port 5190).
  virtual void FrameFromServer(SlotIndex slot, Bytes& frame) = 0;
  // Unframed bytes from the client; port is the slot's destination port.
  virtual void BytesFromClient(SlotIndex slot, std::uint16_t port, Bytes& data) = 0;
  // Unframed bytes from the server; port is the slot's destination port.
  virtual void BytesFromServer(SlotIndex slot, std::uint16_t port, Bytes& data) = 0;
  // Status and failure texts ("Local Socket Closed", "Start Listen Failure: ..."); slot 0 for the
  // listener.
  virtual void RelayEvent(SlotIndex slot, const std::string& text) = 0;
};

// What the host may ask of the relay. Relay implements it; tests of the host use a fake.
class RelayControl {
 public:
  virtual ~RelayControl() = default;
  // Listens on `port` of the configured bind address; failures are raised as RelayEvent(0, ...).
  virtual void StartListening(std::uint16_t port) = 0;
  // Stops listening and closes every connection, raising no close events.
  virtual void StopListening() = 0;
  // The port actually listened on; 0 when not listening.
  virtual std::uint16_t ListeningPort() const = 0;
  // How many client connections the relay holds now.
  virtual int ClientCount() const = 0;
  // True exactly when the client socket of `slot` is connected; false for a slot that does not
  // exist.
  virtual bool IsClientConnected(SlotIndex slot) const = 0;
  // The client connection now in `slot`; 0 when the slot holds none or does not exist.
  virtual ConnectionId ClientConnection(SlotIndex slot) const = 0;
  // Sends bytes unchanged. When either side of the slot is gone, nothing is sent: the event
  // "Connection was unexpectedly closed." is raised and the slot closed. Throws Error for a slot
  // that does not exist.
  virtual void SendBytes(Toward toward, SlotIndex slot, BytesView data) = 0;
  // Frames `frame` (a bare SNAC gets the channel-2 template header), stamps the slot's next
  // sequence number for that direction and the true length into it, and sends it. The stamped
  // frame is left in `frame`. Failures are raised as events, not thrown.
  virtual void SendFrame(Toward toward, SlotIndex slot, Bytes& frame) = 0;
};

}  // namespace quorvel
