#include "proxy/relay.h"

#include <algorithm>
#include <exception>
#include <utility>

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
    relay_.OnPeerClosed(slot_, side_);
  }
  void OnError(const std::string& description) override {
    NotificationScope scope(relay_);
    if (side_ == Toward::kServer) relay_.OnServerError(slot_, description);
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
  return side.draining || side.socket->State() == SocketState::kConnected;
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
  slot.request.destination.host.clear();
  slot.request.destination.port = 0;
  slot.awaitingRequest = true;
  slot.connection = 0;
  ++slot.generation;
  for (SocketSide* side : {&slot.client, &slot.server}) {
    side->deferred = false;
    side->paused = false;
    side->draining = false;
  }
}

void Relay::CloseSlot(SlotIndex index) {
  Slot& slot = SlotAt(index);
  slot.client.socket->Close();
  slot.server.socket->Close();
  ResetSlot(index);
}

void Relay::CloseSlotIfBroken(SlotIndex index) {
  Slot& slot = SlotAt(index);
  if (!IsUp(slot.client) || !IsUp(slot.server)) CloseSlot(index);
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
    for (SocketSide* side : {&slot->client, &slot->server}) {
      side->socket->SetObserver(nullptr);
      side->socket->Close();
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
  });
}

void Relay::OnAcceptError(const std::string& description) {
  RaiseEvent(0, std::string(kServerSocketFailure) + description);
}

// ---- Server connection ----------------------------------------------------------------------

void Relay::OnServerConnected(Slot& slot) {
  ReportingFailures(slot.index, kServerSocketFailure, [&] {
    CloseSlotIfBroken(slot.index);
    SendBytes(Toward::kClient, slot.index, SocksGrantedReply(slot.request));
    // Bytes the client sent behind its request, before the connection stood, go out now.
    if (slot.client.socket->State() == SocketState::kConnected &&
        slot.client.socket->BytesAvailable() > 0) {
      RunArrivals(slot, Toward::kClient);
    }
  });
}

void Relay::OnServerError(Slot& slot, const std::string& description) {
  ReportingFailures(slot.index, kServerSocketFailure, [&] {
    RaiseEvent(slot.index, std::string(kServerErrorEvent) + description + " (" +
                               slot.server.socket->RemoteHostIP() + ")");
    if (slot.awaitingRequest) Send(slot, Toward::kClient, SocksRejectedReply(slot.request));
    CloseSlot(slot.index);
  });
}

void Relay::OnPeerClosed(Slot& slot, Toward side) {
  const SlotIndex i = slot.index;
  ReportingFailures(i, side == Toward::kClient ? kClientSocketFailure : kServerSocketFailure, [&] {
    SocketSide& closed = SideOf(slot, side);
    SocketSide& other = SideOf(slot, Opposite(side));
    // What the peer sent before closing goes to the other side first; the other side is then
    // closed gracefully, after its queued bytes are written.
    if (!slot.awaitingRequest && other.socket->State() == SocketState::kConnected &&
        closed.socket->BytesAvailable() > 0 && !closed.running) {
      const std::uint64_t generation = slot.generation;
      closed.draining = true;
      closed.paused = false;
      closed.running = true;
      {
        // Ends the drain however the relaying ends, failures included.
        struct EndDrain {
          Slot& slot;
          SocketSide& side;
          std::uint64_t generation;
          ~EndDrain() {
            side.running = false;
            if (slot.generation == generation) side.draining = false;
          }
        } endDrain{slot, closed, generation};
        RelayBytes(slot, side, closed.socket->BytesAvailable());
      }
      if (slot.generation != generation) return;
    }
    RaiseEvent(i, side == Toward::kClient ? kClientClosedEvent : kServerClosedEvent);
    other.socket->Close();
    if (i <= HighestSlot() && &SlotAt(i) == &slot) ResetSlot(i);
  });
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
}

void Relay::ClientArrival(Slot& slot) {
  ReportingFailures(slot.index, kClientSocketFailure, [&] {
    if (slot.awaitingRequest) {
      TakeRequest(slot);
      return;
    }
    // Bytes that follow the request wait until the server connection stands.
    if (slot.server.socket->State() == SocketState::kConnecting) return;
    const std::uint64_t generation = slot.generation;
    CloseSlotIfBroken(slot.index);
    if (slot.generation != generation) return;
    RelayBytes(slot, Toward::kClient, slot.client.socket->BytesAvailable());
  });
}

void Relay::ServerArrival(Slot& slot) {
  ReportingFailures(slot.index, kServerBytesFailure, [&] {
    const std::uint64_t generation = slot.generation;
    CloseSlotIfBroken(slot.index);
    if (slot.generation != generation) return;
    RelayBytes(slot, Toward::kServer, slot.server.socket->BytesAvailable());
  });
}

// Takes the client's request once all of it is there and starts the server connection. What is
// not a request the proxy serves is dropped, and the slot keeps waiting.
void Relay::TakeRequest(Slot& slot) {
  AsyncSocket& client = *slot.client.socket;
  const SocksParse parse = ParseSocksRequest(client.PeekData(kMaxSocksRequestSize));
  switch (parse.status) {
    case SocksParse::Status::kIncomplete:
      return;
    case SocksParse::Status::kRejected:
      client.GetData();
      return;
    case SocksParse::Status::kParsed:
      break;
  }
  client.GetData(parse.size);
  const SocksDestination& destination = parse.request.destination;
  const std::uint64_t generation = slot.generation;
  RaiseEvent(slot.index, std::string(kConnectingEvent) + destination.host);
  if (slot.generation != generation) return;
  slot.awaitingRequest = false;
  slot.request = parse.request;
  slot.server.socket->Close();
  slot.server.socket->Connect(destination.host, destination.port);
}

void Relay::RelayBytes(Slot& slot, Toward side, std::size_t bytesTotal) {
  AsyncSocket& socket = *SideOf(slot, side).socket;
  // The client side goes by the port the client asked for, the server side by the port its
  // socket is connected to: the same number for every connection the relay makes.
  const bool framed = side == Toward::kClient ? slot.request.destination.port == kOscarPort
                                              : socket.RemotePort() == kOscarPort;
  if (framed) {
    FrameLoop(slot, side, bytesTotal);
    return;
  }
  Bytes data = socket.GetData();
  if (!data.empty()) RaiseBytes(slot, side, data);
}

// Cuts whole FLAP frames off the front of the socket's unread bytes. Only the 6-byte header is
// peeked, so a burst of many frames costs time in proportion to its bytes. A partial frame stays
// unread in the socket until more of it arrives.
void Relay::FrameLoop(Slot& slot, Toward side, std::size_t remaining) {
  AsyncSocket& socket = *SideOf(slot, side).socket;
  const std::uint64_t generation = slot.generation;
  while (true) {
    const Bytes header = socket.PeekData(kFlapHeaderSize);
    if (header.empty()) return;
    if (header[0] != kFlapStart) {
      // Stray bytes: everything available goes out unframed, as one chunk.
      Bytes data = socket.GetData();
      RaiseBytes(slot, side, data);
      return;
    }
    if (header.size() < kFlapHeaderSize) return;
    const std::size_t frameSize =
        kFlapHeaderSize + static_cast<std::size_t>(WordAt(header, kFlapLengthOffset));
    remaining = std::min(remaining, socket.BytesAvailable());
    if (remaining < frameSize) return;
    Bytes frame = socket.GetData(frameSize);
    RaiseFrame(slot, side, frame);
    if (slot.generation != generation) return;
    remaining -= frameSize;
    if (remaining < kFlapHeaderSize) return;
  }
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
  if (target.socket->BytesPending() > kPauseAbove) SideOf(slot, Opposite(toward)).paused = true;
}

void Relay::OnSendProgress(Slot& slot, Toward side, std::size_t bytesRemaining) {
  SocketSide& other = SideOf(slot, Opposite(side));
  if (!other.paused || bytesRemaining > kResumeBelow) return;
  other.paused = false;
  if (!other.running && other.socket->BytesAvailable() > 0) RunArrivals(slot, Opposite(side));
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
  CloseSlotIfBroken(index);
  if (frame.empty() || frame[0] != kFlapStart) frame.insert(0, FlapTemplate());
  if (frame.size() < kFlapHeaderSize) throw Error("Frame is shorter than its 6-byte header");
  const std::size_t length = frame.size() - kFlapHeaderSize;
  if (length > kMaxFlapDataLength) {
    throw Error("Frame data of " + std::to_string(length) + " bytes exceeds 65535");
  }
  std::int32_t& seq = toward == Toward::kServer ? slot.serverSeq : slot.clientSeq;
  seq = seq + 1 == kSeqWrap ? 0 : seq + 1;
  PutWord(frame, kFlapSequenceOffset, static_cast<std::uint16_t>(seq));
  PutWord(frame, kFlapLengthOffset, static_cast<std::uint16_t>(length));
  Send(slot, toward, frame);
}

}  // namespace quorvel
