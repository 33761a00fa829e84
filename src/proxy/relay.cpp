#include "proxy/relay.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "proxy/address_scope.h"
#include "proxy/relay_events.h"
#include "wire/error.h"
#include "wire/flap.h"
#include "wire/hex.h"
#include "wire/word.h"

namespace quorvel {
namespace {

constexpr SlotIndex kMaxSlot = 32767;
constexpr std::int32_t kSeqWrap = 65535;  // never sent: the step after 65534 is 0

// The description of whatever was thrown, for the failure texts.
std::string Describe(std::exception_ptr failure) {
  try {
    std::rethrow_exception(std::move(failure));
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown failure";
  }
}

const Bytes& FlapTemplate() {
  static const Bytes kTemplate = HexToBytes(kFlapTemplateHex);
  return kTemplate;
}

// Advances a slot's sequence counter for one direction and returns the number to send.
std::uint16_t NextSequence(std::int32_t& counter) {
  counter = counter + 1 == kSeqWrap ? 0 : counter + 1;
  return static_cast<std::uint16_t>(counter);
}

// Writes a big-endian 16-bit header field at `field`.
void PutHeaderWord(char* field, std::uint16_t value) {
  field[0] = static_cast<char>(value >> 8);
  field[1] = static_cast<char>(value & 0xFF);
}

// The prefix of a failure on the socket that faces `side`.
std::string_view SocketFailurePrefix(Toward side) {
  return side == Toward::kClient ? kClientSocketFailure : kServerSocketFailure;
}

// How a SOCKS5 reply tells a failed server connection.
SocksFailure FailureOf(SocketFailure failure) {
  switch (failure) {
    case SocketFailure::kRefused:
      return SocksFailure::kRefused;
    case SocketFailure::kHostUnreachable:
    case SocketFailure::kTimedOut:
      return SocksFailure::kHostUnreachable;
    case SocketFailure::kNetworkUnreachable:
      return SocksFailure::kNetworkUnreachable;
    case SocketFailure::kOther:
      break;
  }
  return SocksFailure::kGeneral;
}

SocksStage StageOf(bool greeted) {
  return greeted ? SocksStage::kSocks5Request : SocksStage::kOpening;
}

}  // namespace

// Tracks how deep the relay is inside socket notifications. Slots discarded by StopListening
// while a notification runs stay alive until the outermost one returns, so no running handler is
// left holding a destroyed socket.
class Relay::NotificationScope {
 public:
  explicit NotificationScope(Relay& relay) : relay_(relay) { ++relay_.depth_; }
  ~NotificationScope() {
    if (--relay_.depth_ == 0) relay_.retired_.clear();
  }
  NotificationScope(const NotificationScope&) = delete;
  NotificationScope& operator=(const NotificationScope&) = delete;

 private:
  Relay& relay_;
};

// Routes the notifications of one socket of a slot to the relay.
class Relay::SocketEvents : public SocketObserver {
 public:
  SocketEvents(Relay& relay, Slot& slot, Toward side) : relay_(relay), slot_(slot), side_(side) {}

  void OnConnect() override {
    NotificationScope scope(relay_);
    if (side_ == Toward::kServer) relay_.OnServerConnected(slot_);
  }
  void OnDataArrival(std::size_t /*bytesTotal*/) override {
    NotificationScope scope(relay_);
    relay_.OnArrival(slot_, side_);
  }
  void OnClose() override {
    NotificationScope scope(relay_);
    relay_.OnPeerFinished(slot_, side_);
  }
  void OnError(const std::string& description) override {
    NotificationScope scope(relay_);
    relay_.OnSocketError(slot_, side_, description);
  }
  void OnSendProgress(std::size_t bytesRemaining) override {
    NotificationScope scope(relay_);
    relay_.OnSendProgress(slot_, side_, bytesRemaining);
  }

 private:
  Relay& relay_;
  Slot& slot_;
  Toward side_;
};

class Relay::ListenerEvents : public ListenerObserver {
 public:
  explicit ListenerEvents(Relay& relay) : relay_(relay) {}
  void OnConnectionRequest(RequestId id) override {
    NotificationScope scope(relay_);
    relay_.OnConnectionRequest(id);
  }
  void OnAcceptError(const std::string& description) override {
    NotificationScope scope(relay_);
    relay_.OnAcceptError(description);
  }

 private:
  Relay& relay_;
};

Relay::Relay(SocketFactory& factory, RelayHost* host)
    : factory_(factory),
      host_(host),
      listener_(factory.MakeListener()),
      listenerEvents_(std::make_unique<ListenerEvents>(*this)) {
  listener_->SetObserver(listenerEvents_.get());
  slots_.push_back(MakeSlot(0));
}

Relay::~Relay() {
  listener_->SetObserver(nullptr);
  listener_->Close();
  for (auto& slot : slots_) {
    if (slot->requestTimer) slot->requestTimer->Stop();
    for (SocketSide* side : {&slot->client, &slot->server}) {
      side->socket->SetObserver(nullptr);
      side->socket->Close();
    }
  }
}

std::unique_ptr<Relay::Slot> Relay::MakeSlot(SlotIndex index) {
  auto slot = std::make_unique<Slot>();
  slot->index = index;
  for (Toward side : {Toward::kClient, Toward::kServer}) {
    SocketSide& state = SideOf(*slot, side);
    state.socket = factory_.MakeSocket();
    state.events = std::make_unique<SocketEvents>(*this, *slot, side);
    state.socket->SetObserver(state.events.get());
  }
  if (index > 0) slot->requestTimer = factory_.MakeTimer();
  return slot;
}

std::uint16_t Relay::ListeningPort() const {
  return listener_->IsListening() ? listener_->LocalPort() : 0;
}

Relay::Slot& Relay::SlotAt(SlotIndex index) {
  if (index < 0 || index > HighestSlot()) {
    throw Error("Slot " + std::to_string(index) + " does not exist");
  }
  return *slots_[static_cast<std::size_t>(index)];
}

AsyncSocket& Relay::ClientSocket(SlotIndex slot) {
  return *SlotAt(slot).client.socket;
}

AsyncSocket& Relay::ServerSocket(SlotIndex slot) {
  return *SlotAt(slot).server.socket;
}

bool Relay::IsUp(const SocketSide& side) {
  return side.socket->State() == SocketState::kConnected;
}

void Relay::RaiseEvent(SlotIndex slot, std::string_view text) {
  if (host_ != nullptr) host_->RelayEvent(slot, std::string(text));
}

template <typename Step>
void Relay::ReportingFailures(SlotIndex slot, std::string_view prefix, Step&& step) {
  try {
    step();
  } catch (...) {
    RaiseEvent(slot, std::string(prefix) + Describe(std::current_exception()));
  }
}

// ---- Slots ----------------------------------------------------------------------------------

// The lowest slot whose client socket is not connected, or a new one.
SlotIndex Relay::TakeFreeSlot() {
  for (SlotIndex i = 1; i <= HighestSlot(); ++i) {
    if (slots_[static_cast<std::size_t>(i)]->client.socket->State() != SocketState::kConnected) {
      return i;
    }
  }
  if (HighestSlot() >= kMaxSlot) throw Error("No free connection slot");
  const auto n = static_cast<SlotIndex>(slots_.size());
  slots_.push_back(MakeSlot(n));
  return n;
}

// Closes both sockets and makes the slot wait for a request again. The sequence counters and the
// bytes a reply echoes stay.
void Relay::ResetSlot(SlotIndex index) {
  Slot& slot = SlotAt(index);
  slot.client.socket->Close();
  slot.server.socket->Close();
  if (slot.requestTimer) slot.requestTimer->Stop();
  slot.request.destination.host.clear();
  slot.request.destination.port = 0;
  slot.phase = Phase::kAwaitingRequest;
  slot.connection = 0;
  ++slot.generation;
  for (SocketSide* side : {&slot.client, &slot.server}) {
    side->deferred = false;
    side->paused = false;
    side->finished = false;
    side->forwarded = false;
    Recount(*side, 0);
  }
}

void Relay::CloseSlot(SlotIndex index) {
  Slot& slot = SlotAt(index);
  slot.client.socket->Close();
  slot.server.socket->Close();
  ResetSlot(index);
}

void Relay::CloseSlotIfBroken(Slot& slot) {
  if (!IsUp(slot.client) || !IsUp(slot.server)) CloseSlot(slot.index);
}

bool Relay::IsClientConnected(SlotIndex slot) const {
  if (slot < 0 || slot > HighestSlot()) return false;
  return slots_[static_cast<std::size_t>(slot)]->client.socket->State() == SocketState::kConnected;
}

int Relay::ClientCount() const {
  int count = 0;
  for (SlotIndex slot = 1; slot <= HighestSlot(); ++slot) count += IsClientConnected(slot) ? 1 : 0;
  return count;
}

ConnectionId Relay::ClientConnection(SlotIndex slot) const {
  if (!IsClientConnected(slot)) return 0;
  return slots_[static_cast<std::size_t>(slot)]->connection;
}

// ---- Listening ------------------------------------------------------------------------------

void Relay::StartListening(std::uint16_t port) {
  ReportingFailures(0, kStartListeningFailure, [&] {
    listener_->Close();
    listener_->Listen(bindAddress_, port);
  });
}

void Relay::StopListening() {
  ReportingFailures(0, kStopListeningFailure, [&] {
    DropSlots();
    listener_->Close();
    slots_[0]->server.socket->Close();
  });
}

void Relay::DropSlots() {
  while (slots_.size() > 1) {
    std::unique_ptr<Slot> slot = std::move(slots_.back());
    slots_.pop_back();
    if (slot->requestTimer) slot->requestTimer->Stop();
    for (SocketSide* side : {&slot->client, &slot->server}) {
      side->socket->SetObserver(nullptr);
      side->socket->Close();
      Recount(*side, 0);
    }
    ++slot->generation;
    Retire(std::move(slot));
  }
}

void Relay::Retire(std::unique_ptr<Slot> slot) {
  if (depth_ > 0) retired_.push_back(std::move(slot));
}

void Relay::OnConnectionRequest(RequestId id) {
  ReportingFailures(0, kServerSocketFailure, [&] {
    const SlotIndex i = TakeFreeSlot();
    ResetSlot(i);
    Slot& slot = SlotAt(i);
    slot.client.socket->Close();
    slot.client.socket->Accept(id);
    slot.connection = ++lastConnection_;
    if (slot.requestTimer && requestTimeoutMs_ > 0) {
      slot.requestTimer->Start(requestTimeoutMs_, [this, &slot] {
        NotificationScope scope(*this);
        OnRequestTimeout(slot);
      });
    }
  });
}

void Relay::OnAcceptError(const std::string& description) {
  RaiseEvent(0, std::string(kServerSocketFailure) + description);
}

void Relay::OnRequestTimeout(Slot& slot) {
  ReportingFailures(slot.index, kClientSocketFailure, [&] {
    if (slot.phase == Phase::kRelaying || !IsUp(slot.client)) return;
    const std::uint64_t generation = slot.generation;
    RaiseEvent(slot.index, kRequestTimedOutEvent);
    if (slot.generation != generation || slot.phase == Phase::kRelaying) return;
    if (slot.phase == Phase::kConnecting && IsUp(slot.client)) {
      Send(slot, Toward::kClient, SocksFailureReply(slot.request, SocksFailure::kHostUnreachable));
    }
    CloseSlot(slot.index);
  });
}

// ---- Server connection ----------------------------------------------------------------------

// Whether a client may reach `address` through the proxy. A proxy that listens only on loopback
// serves this machine alone, so anything goes; one that other machines can reach does not lend
// them this machine's own or its local link's services.
bool Relay::DestinationAllowed(Slot& slot, const std::string& address) const {
  if (IsLoopbackAddress(bindAddress_)) return true;
  if (IsLoopbackAddress(slot.client.socket->RemoteHostIP())) return true;
  return !IsHostOrLinkLocalAddress(address);
}

void Relay::OnServerConnected(Slot& slot) {
  ReportingFailures(slot.index, kServerSocketFailure, [&] {
    if (!IsUp(slot.client)) {
      CloseSlot(slot.index);
      return;
    }
    AsyncSocket& server = *slot.server.socket;
    // A name may have resolved to an address the client may not reach: nothing has been relayed
    // yet, so the connection ends here.
    if (!DestinationAllowed(slot, server.RemoteHostIP())) {
      Refuse(slot, std::string(kDestinationNotAllowedEvent) + server.RemoteHostIP(),
             SocksFailureReply(slot.request, SocksFailure::kNotAllowed));
      return;
    }
    if (slot.requestTimer) slot.requestTimer->Stop();
    slot.phase = Phase::kRelaying;
    SendBytes(Toward::kClient, slot.index,
              SocksGrantedReply(slot.request, server.LocalHostIP(), server.LocalPort()));
    // Bytes the client sent behind its request, before the connection stood, go out now, and
    // its end of sending when it came meanwhile.
    if (IsUp(slot.client) && (slot.client.socket->BytesAvailable() > 0 || slot.client.finished)) {
      RunArrivals(slot, Toward::kClient);
    }
  });
}

// A failed connect, or a reset or timeout of an established connection.
void Relay::OnSocketError(Slot& slot, Toward side, const std::string& description) {
  const SlotIndex i = slot.index;
  ReportingFailures(i, SocketFailurePrefix(side), [&] {
    SocketSide& failed = SideOf(slot, side);
    const std::uint64_t generation = slot.generation;
    // A peer that already ended its side of the connection may well reset it when more comes;
    // its close has been told.
    if (!failed.forwarded) {
      RaiseEvent(i, std::string(kServerErrorEvent) + description + " (" +
                        failed.socket->RemoteHostIP() + ")");
      if (slot.generation != generation) return;
    }
    if (side == Toward::kServer && slot.phase == Phase::kConnecting && IsUp(slot.client)) {
      Send(slot, Toward::kClient,
           SocksFailureReply(slot.request, FailureOf(failed.socket->LastFailure())));
    }
    CloseSlot(i);
  });
}

// The peer of one side finished sending. What it sent before goes to the other side first, a
// partial frame included; then the other side's sending ends too. The other direction goes on
// until its own end.
void Relay::OnPeerFinished(Slot& slot, Toward side) {
  SideOf(slot, side).finished = true;
  OnArrival(slot, side);  // relays what is still unread, then passes the end on
}

void Relay::ForwardFinish(Slot& slot, Toward side) {
  SocketSide& state = SideOf(slot, side);
  SocketSide& other = SideOf(slot, Opposite(side));
  state.forwarded = true;
  // One close is told per connection: the side that ended it first.
  if (!other.forwarded) {
    const std::uint64_t generation = slot.generation;
    RaiseEvent(slot.index, side == Toward::kClient ? kClientClosedEvent : kServerClosedEvent);
    if (slot.generation != generation) return;  // closed meanwhile, by a nested notification
  }
  if (other.forwarded || !IsUp(other)) {
    ResetSlot(slot.index);  // both directions ended: closes gracefully, after queued bytes
    return;
  }
  other.socket->ShutdownWrite();
}

// ---- Arrivals -------------------------------------------------------------------------------

void Relay::OnArrival(Slot& slot, Toward side) {
  SocketSide& state = SideOf(slot, side);
  if (state.running || state.paused) {
    // Handled once the running handler ends, or when the other side's queue drains.
    state.deferred = true;
    return;
  }
  RunArrivals(slot, side);
}

void Relay::RunArrivals(Slot& slot, Toward side) {
  SocketSide& state = SideOf(slot, side);
  const std::uint64_t generation = slot.generation;
  state.running = true;
  do {
    state.deferred = false;
    if (side == Toward::kClient) {
      ClientArrival(slot);
    } else {
      ServerArrival(slot);
    }
  } while (slot.generation == generation && state.deferred && !state.paused &&
           state.socket->BytesAvailable() > 0);
  state.running = false;
  if (slot.generation != generation || state.paused || !state.finished || state.forwarded) return;
  ReportingFailures(slot.index, SocketFailurePrefix(side), [&] {
    if (slot.phase == Phase::kConnecting) return;  // finished once granted
    if (slot.phase != Phase::kRelaying) {
      // The client ended without a whole request.
      state.forwarded = true;
      RaiseEvent(slot.index, kClientClosedEvent);
      CloseSlot(slot.index);
      return;
    }
    if (state.socket->BytesAvailable() == 0) ForwardFinish(slot, side);
  });
}

void Relay::ClientArrival(Slot& slot) {
  ReportingFailures(slot.index, kClientSocketFailure, [&] {
    if (slot.phase == Phase::kAwaitingRequest || slot.phase == Phase::kAwaitingSocks5Request) {
      TakeRequest(slot);
      return;
    }
    // Bytes that follow the request wait until the server connection stands.
    if (slot.phase == Phase::kConnecting) return;
    const std::uint64_t generation = slot.generation;
    CloseSlotIfBroken(slot);
    if (slot.generation != generation) return;
    RelayBytes(slot, Toward::kClient);
  });
}

void Relay::ServerArrival(Slot& slot) {
  ReportingFailures(slot.index, kServerBytesFailure, [&] {
    const std::uint64_t generation = slot.generation;
    CloseSlotIfBroken(slot);
    if (slot.generation != generation) return;
    RelayBytes(slot, Toward::kServer);
  });
}

// Takes the client's request once all of it is there (a SOCKS5 greeting first) and starts the
// server connection. A request that is not served is answered with its refusal, and the slot
// closes.
void Relay::TakeRequest(Slot& slot) {
  AsyncSocket& client = *slot.client.socket;
  const std::uint64_t generation = slot.generation;
  while (true) {
    const SocksParse parse =
        ParseSocksRequest(client.Buffered(), StageOf(slot.phase == Phase::kAwaitingSocks5Request));
    switch (parse.status) {
      case SocksParse::Status::kIncomplete:
        return;
      case SocksParse::Status::kRefused:
        Refuse(slot, std::string(kRequestRefusedEvent), parse.reply);
        return;
      case SocksParse::Status::kGreeting:
        client.Discard(parse.size);
        Send(slot, Toward::kClient, parse.reply);
        slot.phase = Phase::kAwaitingSocks5Request;
        continue;
      case SocksParse::Status::kParsed:
        break;
    }
    client.Discard(parse.size);
    const SocksDestination& destination = parse.request.destination;
    if (!DestinationAllowed(slot, destination.host)) {
      Refuse(slot, std::string(kDestinationNotAllowedEvent) + destination.host,
             SocksFailureReply(parse.request, SocksFailure::kNotAllowed));
      return;
    }
    RaiseEvent(slot.index, std::string(kConnectingEvent) + destination.host);
    if (slot.generation != generation) return;
    slot.phase = Phase::kConnecting;
    slot.request = parse.request;
    slot.server.socket->Close();
    slot.server.socket->Connect(destination.host, destination.port);
    return;
  }
}

// Answers the client with `reply` (when there is one) and closes the slot; the reply is written
// before the connection ends.
void Relay::Refuse(Slot& slot, const std::string& event, BytesView reply) {
  const std::uint64_t generation = slot.generation;
  RaiseEvent(slot.index, event);
  if (slot.generation != generation) return;  // closed meanwhile, by a nested notification
  AsyncSocket& client = *slot.client.socket;
  client.Discard(client.BytesAvailable());
  if (!reply.empty() && IsUp(slot.client)) Send(slot, Toward::kClient, reply);
  CloseSlot(slot.index);
}

void Relay::RelayBytes(Slot& slot, Toward side) {
  AsyncSocket& socket = *SideOf(slot, side).socket;
  // The client side goes by the port the client asked for, the server side by the port its
  // socket is connected to: the same number for every connection the relay makes.
  const bool framed = side == Toward::kClient ? slot.request.destination.port == kOscarPort
                                              : socket.RemotePort() == kOscarPort;
  if (framed) {
    FrameLoop(slot, side);
    return;
  }
  const std::size_t available = socket.BytesAvailable();
  if (available > 0) HandOverBytes(slot, side, available);
}

// Cuts whole FLAP frames off the front of the socket's unread bytes. Frames the host leaves to
// the relay are renumbered where they lie and sent on together; each frame the host wants is
// copied once into the side's reused frame buffer and raised. A partial frame stays unread until
// more of it arrives, or goes out as it is once the peer has finished sending.
void Relay::FrameLoop(Slot& slot, Toward side) {
  SocketSide& state = SideOf(slot, side);
  AsyncSocket& socket = *state.socket;
  const std::uint64_t generation = slot.generation;
  while (!state.paused) {
    const std::span<char> unread = socket.WritableBuffered();
    if (unread.empty()) return;
    if (const std::size_t passing = RenumberPassingFrames(slot, side, unread)) {
      Send(slot, Opposite(side), BytesView(unread.data(), passing));
      socket.Discard(passing);
      continue;
    }
    const BytesView available(unread.data(), unread.size());
    std::size_t take = available.size();  // stray bytes: everything, as one chunk
    bool frame = false;
    if (available[0] == kFlapStart) {
      if (available.size() >= kFlapHeaderSize) {
        const std::size_t frameSize =
            kFlapHeaderSize + static_cast<std::size_t>(WordAt(available, kFlapLengthOffset));
        frame = available.size() >= frameSize;
        if (frame) take = frameSize;
      }
      if (!frame && !state.finished) return;
    }
    if (frame) {
      state.scratch.assign(available.data(), take);
      socket.Discard(take);
      RaiseFrame(slot, side, state.scratch);
    } else {
      HandOverBytes(slot, side, take);
    }
    if (slot.generation != generation) return;
  }
}

// Whether the relay may send traffic on by itself now: the host leaves it to the relay, and both
// sockets stand. When a side has gone, the host is raised the traffic, and its send tells of the
// loss as ever.
bool Relay::MayPassOn(const Slot& slot) const {
  return host_ != nullptr && IsUp(slot.client) && IsUp(slot.server);
}

std::size_t Relay::RenumberPassingFrames(Slot& slot, Toward side, std::span<char> unread) {
  if (!MayPassOn(slot)) return 0;
  const bool fromClient = side == Toward::kClient;
  std::int32_t& counter = fromClient ? slot.serverSeq : slot.clientSeq;
  const FrameInterest wanted =
      fromClient ? host_->FramesWantedFromClient() : host_->FramesWantedFromServer();
  std::size_t end = 0;
  while (unread.size() - end >= kFlapHeaderSize && unread[end] == kFlapStart) {
    const BytesView rest(unread.data() + end, unread.size() - end);
    const std::size_t size =
        kFlapHeaderSize + static_cast<std::size_t>(WordAt(rest, kFlapLengthOffset));
    if (rest.size() < size) break;
    const BytesView frame = rest.substr(0, size);
    if (wanted.Wants(frame)) break;
    // A whole frame's length field is already its true length.
    PutHeaderWord(unread.data() + end + kFlapSequenceOffset, NextSequence(counter));
    end += size;
  }
  return end;
}

void Relay::HandOverBytes(Slot& slot, Toward side, std::size_t count) {
  SocketSide& state = SideOf(slot, side);
  AsyncSocket& socket = *state.socket;
  const BytesView bytes = socket.Buffered().substr(0, count);
  if (MayPassOn(slot) && !host_->WantsBytes()) {
    Send(slot, Opposite(side), bytes);
    socket.Discard(count);
    return;
  }
  state.scratch.assign(bytes);
  socket.Discard(count);
  RaiseBytes(slot, side, state.scratch);
}

void Relay::RaiseFrame(Slot& slot, Toward side, Bytes& frame) {
  if (host_ == nullptr) return;
  if (side == Toward::kClient) {
    host_->FrameFromClient(slot.index, frame);
  } else {
    host_->FrameFromServer(slot.index, frame);
  }
}

void Relay::RaiseBytes(Slot& slot, Toward side, Bytes& data) {
  if (host_ == nullptr) return;
  if (side == Toward::kClient) {
    host_->BytesFromClient(slot.index, slot.request.destination.port, data);
  } else {
    host_->BytesFromServer(slot.index, slot.request.destination.port, data);
  }
}

// ---- Sending --------------------------------------------------------------------------------

void Relay::Send(Slot& slot, Toward toward, BytesView data) {
  SocketSide& target = SideOf(slot, toward);
  target.socket->SendData(data);
  Recount(target, target.socket->BytesPending());
  // Over the total cap, every queue is held to what a queue may keep before its feeder resumes.
  const std::size_t limit = totalQueued_ > queueCap_ ? kResumeBelow : kPauseAbove;
  if (target.counted > limit) SideOf(slot, Opposite(toward)).paused = true;
  if (totalQueued_ > queueCap_ && !overCap_) {
    overCap_ = true;
    PauseLargestFeeders();
  }
}

void Relay::Recount(SocketSide& side, std::size_t pending) {
  totalQueued_ = totalQueued_ - side.counted + pending;
  side.counted = pending;
  if (totalQueued_ <= queueCap_) overCap_ = false;
}

// Stops reading on the sides that feed queues of at least the mean size: the largest queue is
// always among them. Each resumes as its own queue drains, as after the per-connection pause, so
// a reader that stopped holds up only the connections it is reading from.
void Relay::PauseLargestFeeders() {
  std::size_t queues = 0;
  for (const auto& slot : slots_) {
    queues += (slot->client.counted > 0 ? 1u : 0u) + (slot->server.counted > 0 ? 1u : 0u);
  }
  if (queues == 0) return;
  const std::size_t mean = totalQueued_ / queues;
  for (const auto& slot : slots_) {
    if (slot->client.counted > 0 && slot->client.counted >= mean) slot->server.paused = true;
    if (slot->server.counted > 0 && slot->server.counted >= mean) slot->client.paused = true;
  }
}

void Relay::Resume(Slot& slot, Toward side) {
  SocketSide& state = SideOf(slot, side);
  state.paused = false;
  if (!state.running && (state.socket->BytesAvailable() > 0 || state.finished)) {
    RunArrivals(slot, side);
  }
}

void Relay::OnSendProgress(Slot& slot, Toward side, std::size_t bytesRemaining) {
  SocketSide& target = SideOf(slot, side);
  Recount(target, bytesRemaining);
  SocketSide& feeder = SideOf(slot, Opposite(side));
  if (!feeder.paused || bytesRemaining > kResumeBelow) return;
  Resume(slot, Opposite(side));
}

void Relay::SendBytes(Toward toward, SlotIndex slot, BytesView data) {
  Slot& target = SlotAt(slot);
  if (IsUp(target.client) && IsUp(target.server)) {
    Send(target, toward, data);
    return;
  }
  RaiseEvent(slot, kUnexpectedlyClosedEvent);
  CloseSlot(slot);
}

void Relay::SendFrame(Toward toward, SlotIndex slot, Bytes& frame) {
  ReportingFailures(slot, toward == Toward::kServer ? kFrameToServerFailure : kFrameToClientFailure,
                    [&] { StampAndSend(toward, slot, frame); });
}

void Relay::StampAndSend(Toward toward, SlotIndex index, Bytes& frame) {
  Slot& slot = SlotAt(index);
  CloseSlotIfBroken(slot);
  if (frame.empty() || frame[0] != kFlapStart) frame.insert(0, FlapTemplate());
  if (frame.size() < kFlapHeaderSize) throw Error("Frame is shorter than its 6-byte header");
  const std::size_t length = frame.size() - kFlapHeaderSize;
  if (length > kMaxFlapDataLength) {
    throw Error("Frame data of " + std::to_string(length) + " bytes exceeds 65535");
  }
  std::int32_t& counter = toward == Toward::kServer ? slot.serverSeq : slot.clientSeq;
  PutHeaderWord(frame.data() + kFlapSequenceOffset, NextSequence(counter));
  PutHeaderWord(frame.data() + kFlapLengthOffset, static_cast<std::uint16_t>(length));
  Send(slot, toward, frame);
}

}  // namespace quorvel
