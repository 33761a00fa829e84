#pragma once
// The asynchronous TCP socket that the relay is written against. One implementation runs on the
// Qt event loop (QtSocket); tests drive the relay through a scriptable fake. Everything happens on
// one thread: notifications are delivered one at a time from the event loop, and an operation
// never raises a notification of its own socket from inside the call.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "wire/bytes.h"

namespace quorvel {

enum class SocketState {
  kClosed,
  kListening,
  kConnecting,
  kConnected,
  kClosing,
  kError,
};

// What kind of failure a socket reported last, for replies that tell the client why.
enum class SocketFailure {
  kOther,
  kRefused,             // nothing listens at the destination
  kHostUnreachable,     // no route to the host, or its name did not resolve
  kNetworkUnreachable,  // no route to its network
  kTimedOut,
};

// Identifies one pending incoming connection between ConnectionRequest and Accept.
using RequestId = std::int64_t;

// The notifications of a connection socket. Each is delivered from the event loop.
class SocketObserver {
 public:
  virtual ~SocketObserver() = default;
  // An outgoing connection stands.
  virtual void OnConnect() = 0;
  // Bytes are available; bytesTotal counts every unread byte, including those left unread after
  // earlier notifications. The next notification comes when more bytes arrive.
  virtual void OnDataArrival(std::size_t bytesTotal) = 0;
  // The peer finished sending (TCP's FIN). Bytes it sent before may still be unread; the socket
  // stays connected for sending until its owner closes it or the connection fails.
  virtual void OnClose() = 0;
  // A failure on the socket: a refused or failed connect, or a reset or timeout of an established
  // connection. The connection is over.
  virtual void OnError(const std::string& description) = 0;
  // Some queued bytes were written; bytesRemaining are still queued.
  virtual void OnSendProgress(std::size_t bytesRemaining) = 0;
};

class AsyncSocket {
 public:
  virtual ~AsyncSocket() = default;

  virtual void SetObserver(SocketObserver* observer) = 0;

  virtual SocketState State() const = 0;
  // The port this socket is connected (or connecting) to; 0 when none.
  virtual std::uint16_t RemotePort() const = 0;
  // The peer's IPv4 address in dotted decimal, or its IPv6 address as text (the address or name
  // being connected to while connecting, the last one tried after a failed connect); empty when
  // none.
  virtual std::string RemoteHostIP() const = 0;
  // The address and port of this end of a connection; empty and 0 when not connected.
  virtual std::string LocalHostIP() const { return {}; }
  virtual std::uint16_t LocalPort() const { return 0; }
  // The kind of the failure last reported through OnError.
  virtual SocketFailure LastFailure() const { return SocketFailure::kOther; }

  // Starts connecting (closing any earlier connection first) to an address, or to a host name,
  // which is resolved without blocking. A failure, immediate or later, arrives as an Error
  // notification; an implementation that cannot start at all throws Error.
  virtual void Connect(const std::string& host, std::uint16_t port) = 0;
  // Takes over the pending incoming connection `id`; the socket is then connected. Throws Error
  // when the request no longer exists.
  virtual void Accept(RequestId id) = 0;

  // Queues bytes to be sent in order; does not wait. Throws Error when not connected.
  virtual void SendData(BytesView data) = 0;
  // Bytes queued and not yet written.
  virtual std::size_t BytesPending() const = 0;

  // Unread bytes available now.
  virtual std::size_t BytesAvailable() const = 0;
  // Every available byte, in place and writable, so that the owner can change them where they lie
  // (the relay renumbers frames there before sending them on): valid until the next operation on
  // this socket, or the next pass of the event loop. Reading through it and Discard copies
  // nothing.
  virtual std::span<char> WritableBuffered() = 0;
  // The same bytes, read-only.
  BytesView Buffered() {
    const std::span<char> bytes = WritableBuffered();
    return {bytes.data(), bytes.size()};
  }
  // Removes the first `count` available bytes (at most all of them).
  virtual void Discard(std::size_t count) = 0;

  // Ends the sending direction once every queued byte is written (TCP's FIN); receiving goes on.
  virtual void ShutdownWrite() = 0;

  // Closes the socket at once as far as its owner can tell: the state is closed and no further
  // notification comes. Bytes already queued are still written before the connection ends.
  // Closing a closed socket is harmless.
  virtual void Close() = 0;
};

class ListenerObserver {
 public:
  virtual ~ListenerObserver() = default;
  // A client connects. A request that is not accepted before this returns is dropped.
  virtual void OnConnectionRequest(RequestId id) = 0;
  // Accepting a client failed (for example, no descriptors left); the listener keeps listening.
  virtual void OnAcceptError(const std::string& description) = 0;
};

class AsyncListener {
 public:
  virtual ~AsyncListener() = default;
  virtual void SetObserver(ListenerObserver* observer) = 0;
  // Starts listening on address:port (port 0 picks a free one). Throws Error on failure.
  virtual void Listen(const std::string& address, std::uint16_t port) = 0;
  virtual void Close() = 0;
  virtual bool IsListening() const = 0;
  // The port actually listened on; 0 when not listening.
  virtual std::uint16_t LocalPort() const = 0;
};

// A one-shot timer on the same event loop as the sockets.
class AsyncTimer {
 public:
  virtual ~AsyncTimer() = default;
  // Calls `fire` once, `milliseconds` from now, unless stopped or started again first.
  virtual void Start(int milliseconds, std::function<void()> fire) = 0;
  virtual void Stop() = 0;
};

// Creates the sockets of one relay; Accept takes over requests of listeners from the same factory.
class SocketFactory {
 public:
  virtual ~SocketFactory() = default;
  virtual std::unique_ptr<AsyncSocket> MakeSocket() = 0;
  virtual std::unique_ptr<AsyncListener> MakeListener() = 0;
  // A timer; null where there is none (nothing is then timed out).
  virtual std::unique_ptr<AsyncTimer> MakeTimer() { return nullptr; }
};

}  // namespace quorvel
