#pragma once
// The seam between the relay and the program that hosts it: the five events that AIMProxy raises
// synchronously, and the operations the host calls back into.

#include <cstdint>
#include <string>

#include "wire/bytes.h"

namespace quorvel {

// A connection slot: 1..32767 names a client connection and its server connection; 0 is the
// listener.
using SlotIndex = int;

// Receives every frame and chunk the relay reads. The relay never forwards traffic by itself:
// what a handler does not send back through ProxyControl is dropped. Frames are handed over
// writable, so a handler may rewrite them before sending.
class ProxyHost {
 public:
  virtual ~ProxyHost() = default;
  // One whole FLAP frame from the server (destination port 5190).
  virtual void IncomingAIM(SlotIndex index, Bytes& data) = 0;
  // One whole FLAP frame from the client (destination port 5190).
  virtual void OutgoingAIM(SlotIndex index, Bytes& data) = 0;
  // Unframed bytes from the server; port is the slot's destination port.
  virtual void IncomingData(SlotIndex index, std::uint16_t port, Bytes& data) = 0;
  // Unframed bytes from the client; port is the slot's destination port.
  virtual void OutgoingData(SlotIndex index, std::uint16_t port, Bytes& data) = 0;
  // Status and failure texts ("Local Socket Closed", "Start Listen Failure: ...").
  virtual void SocketEvent(SlotIndex index, const std::string& description) = 0;
};

// What the host may ask of the relay. AIMProxy implements it; tests of the host use a fake.
class ProxyControl {
 public:
  virtual ~ProxyControl() = default;
  // Listens on `port` of the configured bind address; failures are raised as SocketEvent(0, ...).
  virtual void StartListen(std::uint16_t port) = 0;
  // Stops listening and closes every connection, raising no close events.
  virtual void StopListen() = 0;
  // True exactly when the client socket of slot `index` is connected; false for a slot that does
  // not exist.
  virtual bool Connection(SlotIndex index) const = 0;
  // Sends bytes unchanged: sockType 0 to the client, any other value to the server.
  virtual void SendSock(int sockType, SlotIndex index, BytesView data) = 0;
  // Frames `data` (a bare SNAC gets the channel-2 template header), stamps the slot's next
  // sequence number for that direction and the true length into it, and sends it. The stamped
  // frame is left in `data`.
  virtual void AIMToServer(SlotIndex index, Bytes& data) = 0;
  virtual void ServerToAIM(SlotIndex index, Bytes& data) = 0;
};

}  // namespace quorvel
