#pragma once
// AIMProxy: a SOCKS4 proxy that pairs each client connection with a server connection in a
// connection slot, cuts OSCAR (port 5190) traffic into FLAP frames, hands every frame and chunk
// to its host, and sends what the host gives back, renumbering frames per direction.
//
// Written only against the asynchronous socket interface, so it runs on any event loop that
// provides one, and under a scripted fake in tests. Single-threaded; no locks.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "proxy/async_socket.h"
#include "proxy/proxy_host.h"
#include "wire/bytes.h"

namespace quorvel {

// The handshake state of one slot.
struct SockInfo {
  // Destination port (Word16) and IPv4 address (4 bytes) as the request carried them; echoed in
  // the SOCKS4 replies.
  Bytes DestBytes;
  // The destination address in dotted decimal.
  std::string DestHost;
  std::uint16_t DestPort = 0;
  // True while the next bytes from the client are its SOCKS4 request.
  bool AwaitingRequest = false;
};

class AIMProxy : public ProxyControl {
 public:
  // The OSCAR port: traffic to it is cut into FLAP frames.
  static constexpr std::uint16_t kOscarPort = 5190;
  // Reading from one side of a slot stops while the other side has more than this many bytes
  // queued, and resumes once the queue drains to kResumeBelow.
  static constexpr std::size_t kPauseAbove = std::size_t{1} << 20;
  static constexpr std::size_t kResumeBelow = std::size_t{256} << 10;
  // A SOCKS4 request whose user id has no terminating zero within this many bytes is dropped.
  static constexpr std::size_t kMaxRequestSize = 1024;

  explicit AIMProxy(SocketFactory& factory, ProxyHost* host = nullptr);
  ~AIMProxy() override;
  AIMProxy(const AIMProxy&) = delete;
  AIMProxy& operator=(const AIMProxy&) = delete;

  // The host receives every event; without one, events go nowhere.
  void SetHost(ProxyHost* host) { host_ = host; }
  // The local address the listener binds; 127.0.0.1 unless changed. Takes effect at StartListen.
  void SetBindAddress(std::string address) { bind_address_ = std::move(address); }
  const std::string& BindAddress() const { return bind_address_; }
  // The port actually listened on (useful after StartListen(0)); 0 when not listening.
  std::uint16_t ListeningPort() const;

  // ProxyControl
  void StartListen(std::uint16_t port) override;
  void StopListen() override;
  bool Connection(SlotIndex index) const override;
  void SendSock(int sockType, SlotIndex index, BytesView data) override;
  void AIMToServer(SlotIndex index, Bytes& data) override;
  void ServerToAIM(SlotIndex index, Bytes& data) override;

  // Slot management; failures (an index that names no slot) reach the caller.
  SlotIndex CreateSock();
  void ResetSock(SlotIndex index);
  void CloseSock(SlotIndex index);
  void CheckSock(SlotIndex index);

  // Inspection. UpperBound is n: slots are 1..n, 0 belongs to the listener.
  SlotIndex UpperBound() const { return static_cast<SlotIndex>(slots_.size()) - 1; }
  const SockInfo& SockInfos(SlotIndex index) const;
  std::int32_t ClientSeq(SlotIndex index) const;
  std::int32_t ServerSeq(SlotIndex index) const;
  AsyncSocket& LocalSocks(SlotIndex index);
  AsyncSocket& RemoteSocks(SlotIndex index);

 private:
  enum class Side { kLocal, kRemote };
  struct Slot;
  class SideLink;
  class ListenerLink;

  struct SideState {
    std::unique_ptr<AsyncSocket> sock;
    std::unique_ptr<SideLink> link;
    bool running = false;   // an arrival handler of this socket is on the stack
    bool deferred = false;  // an arrival came while running or paused
    bool paused = false;    // the other side's queue is full: leave bytes unread
    bool draining = false;  // the peer closed; its last bytes are being relayed
  };

  struct Slot {
    SideState local;
    SideState remote;
    SockInfo info;
    std::int32_t client_seq = 0;
    std::int32_t server_seq = 0;
    // Bumped whenever the slot is reset or discarded, so a running loop notices.
    std::uint64_t generation = 0;
    SlotIndex index = 0;
  };

  // Notification entry points, one per socket notification.
  void OnConnectionRequest(RequestId id);
  void OnAcceptError(const std::string& description);
  void OnConnect(Slot& slot);
  void OnArrival(Slot& slot, Side side);
  void OnClose(Slot& slot, Side side);
  void OnError(Slot& slot, const std::string& description);
  void OnSendProgress(Slot& slot, Side side, std::size_t bytesRemaining);

  // Runs the arrival handler of one side, deferring arrivals that come while it runs.
  void RunArrivals(Slot& slot, Side side);
  void ClientArrival(Slot& slot);
  void ServerArrival(Slot& slot);
  bool RequestPhase(Slot& slot);
  void RelayBytes(Slot& slot, Side side, std::size_t bytesTotal);
  void FrameLoop(Slot& slot, Side side, std::size_t remaining);
  void RaiseFrame(Slot& slot, Side side, Bytes& frame);
  void RaiseRaw(Slot& slot, Side side, Bytes& data);
  void RaiseSocketEvent(SlotIndex index, const std::string& description);

  void FrameAndSend(SlotIndex index, Bytes& data, Side to);
  void Send(Slot& slot, Side to, BytesView data);
  void DropSlots();
  void Retire(std::unique_ptr<Slot> slot);

  Slot& SlotAt(SlotIndex index);
  const Slot& SlotAt(SlotIndex index) const;
  static SideState& SideOf(Slot& slot, Side side) {
    return side == Side::kLocal ? slot.local : slot.remote;
  }
  static SideState& OtherOf(Slot& slot, Side side) {
    return side == Side::kLocal ? slot.remote : slot.local;
  }
  static bool IsUp(const SideState& side);
  std::unique_ptr<Slot> MakeSlot(SlotIndex index);

  // Counts notifications on the stack; slots discarded meanwhile are kept until it returns to 0.
  class Entry;

  SocketFactory& factory_;
  ProxyHost* host_;
  std::string bind_address_ = "127.0.0.1";
  std::unique_ptr<AsyncListener> listener_;
  std::unique_ptr<ListenerLink> listener_link_;
  std::vector<std::unique_ptr<Slot>> slots_;  // element 0 is never connected
  std::vector<std::unique_ptr<Slot>> retired_;
  int depth_ = 0;
};

}  // namespace quorvel
