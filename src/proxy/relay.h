#pragma once
// Relay: a SOCKS proxy that pairs each client connection with a server connection in a connection
// slot, cuts OSCAR (port 5190) traffic into FLAP frames, hands the frames and chunks its host wants
// to see to it and sends what the host gives back, passes the rest on by itself, and renumbers
// frames per direction.
//
// Written only against the asynchronous socket interface, so it runs on any event loop that
// provides one, and under a scripted fake in tests. Single-threaded; no locks.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "proxy/async_socket.h"
#include "proxy/relay_host.h"
#include "proxy/socks_request.h"
#include "wire/bytes.h"

namespace quorvel {

class Relay : public RelayControl {
 public:
  // The OSCAR port: traffic to it is cut into FLAP frames.
  static constexpr std::uint16_t kOscarPort = 5190;
  // Reading from one side of a slot stops while the other side has more than this many bytes
  // queued, and resumes once the queue drains to kResumeBelow.
  static constexpr std::size_t kPauseAbove = std::size_t{1} << 20;
  static constexpr std::size_t kResumeBelow = std::size_t{256} << 10;
  // The bytes queued across all connections above which reading pauses on the connections that
  // feed the largest queues; above it, no queue keeps more than kResumeBelow without its feeder
  // pausing.
  static constexpr std::size_t kDefaultQueueCap = std::size_t{256} << 20;
  // How long a client has to complete its request, and the server connection to stand.
  static constexpr int kDefaultRequestTimeoutMs = 30000;

  explicit Relay(SocketFactory& factory, RelayHost* host = nullptr);
  ~Relay() override;
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  // The host receives every event; without one, events go nowhere.
  void SetHost(RelayHost* host) { host_ = host; }
  // The local address the listener binds; 127.0.0.1 unless changed. Takes effect at
  // StartListening. Bound to any other than a loopback address, the proxy serves other machines,
  // and then connects a client that does not come from loopback to no loopback or link-local
  // destination.
  void SetBindAddress(std::string address) { bindAddress_ = std::move(address); }
  // Takes effect for clients accepted from now on; 0 or less: no limit.
  void SetRequestTimeout(int milliseconds) { requestTimeoutMs_ = milliseconds; }
  void SetQueueCap(std::size_t bytes) { queueCap_ = bytes; }
  // Bytes queued for sending across all connections now.
  std::size_t QueuedBytes() const { return totalQueued_; }

  // RelayControl
  void StartListening(std::uint16_t port) override;
  void StopListening() override;
  std::uint16_t ListeningPort() const override;
  int ClientCount() const override;
  bool IsClientConnected(SlotIndex slot) const override;
  ConnectionId ClientConnection(SlotIndex slot) const override;
  void SendBytes(Toward toward, SlotIndex slot, BytesView data) override;
  void SendFrame(Toward toward, SlotIndex slot, Bytes& frame) override;

  // Inspection. Slots are 1..HighestSlot(); 0 belongs to the listener. The socket accessors
  // throw Error for a slot that does not exist.
  SlotIndex HighestSlot() const { return static_cast<SlotIndex>(slots_.size()) - 1; }
  AsyncSocket& ClientSocket(SlotIndex slot);
  AsyncSocket& ServerSocket(SlotIndex slot);

 private:
  struct Slot;
  class SocketEvents;
  class ListenerEvents;
  class NotificationScope;

  // Where a slot stands.
  enum class Phase {
    kAwaitingRequest,        // the next bytes from the client are its request (or greeting)
    kAwaitingSocks5Request,  // the SOCKS5 greeting was answered; its request comes next
    kConnecting,             // the request was taken; the server connection is being made
    kRelaying,               // the request was granted
  };

  // One socket of a slot and the state of reading from it.
  struct SocketSide {
    std::unique_ptr<AsyncSocket> socket;
    std::unique_ptr<SocketEvents> events;
    bool running = false;     // an arrival handler of this socket is on the stack
    bool deferred = false;    // an arrival came while running or paused
    bool paused = false;      // the other side's queue is full: leave bytes unread
    bool finished = false;    // the peer finished sending; what it sent is being relayed
    bool forwarded = false;   // all it sent, and then its end, went to the other side
    std::size_t counted = 0;  // this socket's queued bytes as counted in the relay's total
    // The frame or chunk handed to the host, reused from one to the next.
    Bytes scratch;
  };

  struct Slot {
    SocketSide client;
    SocketSide server;
    // The latest request taken on this slot. A reset clears its host and port and keeps the
    // bytes its replies echo.
    SocksRequest request;
    Phase phase = Phase::kAwaitingRequest;
    ConnectionId connection = 0;  // the client connection accepted into the slot; 0 once reset
    std::int32_t clientSeq = 0;   // last sequence number sent to the client
    std::int32_t serverSeq = 0;   // last sequence number sent to the server
    // Bumped whenever the slot is reset or discarded, so a running loop notices.
    std::uint64_t generation = 0;
    SlotIndex index = 0;
    // Ends a request that is not granted in time; null without timers.
    std::unique_ptr<AsyncTimer> requestTimer;
  };

  // Notification entry points, one per socket notification; `side` names the peer the socket
  // faces.
  void OnConnectionRequest(RequestId id);
  void OnAcceptError(const std::string& description);
  void OnServerConnected(Slot& slot);
  void OnArrival(Slot& slot, Toward side);
  void OnPeerFinished(Slot& slot, Toward side);
  void OnSocketError(Slot& slot, Toward side, const std::string& description);
  void OnSendProgress(Slot& slot, Toward side, std::size_t bytesRemaining);
  void OnRequestTimeout(Slot& slot);

  // Runs `step`; a failure inside it is raised as an event on `slot`: `prefix` and the failure's
  // description. Nothing is closed: the slot stays as the failure left it.
  template <typename Step>
  void ReportingFailures(SlotIndex slot, std::string_view prefix, Step&& step);
  void RaiseEvent(SlotIndex slot, std::string_view text);

  // Runs the arrival handler of one side, deferring arrivals that come while it runs.
  void RunArrivals(Slot& slot, Toward side);
  void ClientArrival(Slot& slot);
  void ServerArrival(Slot& slot);
  void TakeRequest(Slot& slot);
  // Raises `event`, then answers the client with `reply` (when there is one) and closes the slot.
  void Refuse(Slot& slot, const std::string& event, BytesView reply);
  bool DestinationAllowed(Slot& slot, const std::string& address) const;
  void RelayBytes(Slot& slot, Toward side);
  void FrameLoop(Slot& slot, Toward side);
  bool MayPassOn(const Slot& slot) const;
  // Renumbers, where they lie, the whole frames at the front of `unread` that the host leaves to
  // the relay, and returns how many bytes they take: 0 when the first is not such a frame.
  std::size_t RenumberPassingFrames(Slot& slot, Toward side, std::span<char> unread);
  // The first `count` unread bytes of `side` as one chunk: raised to the host, or sent on as they
  // are when the host leaves chunks to the relay.
  void HandOverBytes(Slot& slot, Toward side, std::size_t count);
  void RaiseFrame(Slot& slot, Toward side, Bytes& frame);
  void RaiseBytes(Slot& slot, Toward side, Bytes& data);
  // Once a side whose peer finished has relayed everything, the other side's sending ends too;
  // when both have, the slot closes.
  void ForwardFinish(Slot& slot, Toward side);

  void StampAndSend(Toward toward, SlotIndex slot, Bytes& frame);
  void Send(Slot& slot, Toward toward, BytesView data);
  // Brings the total of queued bytes up to date with one socket's queue.
  void Recount(SocketSide& side, std::size_t pending);
  void PauseLargestFeeders();
  void Resume(Slot& slot, Toward side);

  // Slot management; failures (an index that names no slot) reach the caller.
  SlotIndex TakeFreeSlot();
  void ResetSlot(SlotIndex slot);
  void CloseSlot(SlotIndex slot);
  void CloseSlotIfBroken(Slot& slot);
  void DropSlots();
  void Retire(std::unique_ptr<Slot> slot);
  std::unique_ptr<Slot> MakeSlot(SlotIndex index);
  Slot& SlotAt(SlotIndex index);

  static SocketSide& SideOf(Slot& slot, Toward side) {
    return side == Toward::kClient ? slot.client : slot.server;
  }
  static Toward Opposite(Toward side) {
    return side == Toward::kClient ? Toward::kServer : Toward::kClient;
  }
  static bool IsUp(const SocketSide& side);

  SocketFactory& factory_;
  RelayHost* host_;
  std::string bindAddress_ = "127.0.0.1";
  int requestTimeoutMs_ = kDefaultRequestTimeoutMs;
  std::size_t queueCap_ = kDefaultQueueCap;
  std::size_t totalQueued_ = 0;
  bool overCap_ = false;  // the total went above the cap and has not yet drained enough
  std::unique_ptr<AsyncListener> listener_;
  std::unique_ptr<ListenerEvents> listenerEvents_;
  std::vector<std::unique_ptr<Slot>> slots_;  // element 0 is never connected
  // Slots discarded while a notification runs, kept until the outermost one returns.
  std::vector<std::unique_ptr<Slot>> retired_;
  int depth_ = 0;  // notifications on the stack
  ConnectionId lastConnection_ = 0;
};

}  // namespace quorvel
