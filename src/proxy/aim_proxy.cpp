#include "proxy/aim_proxy.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "wire/error.h"
#include "wire/flap.h"
#include "wire/hex.h"
#include "wire/word.h"

namespace quorvel {
namespace {

constexpr char kSocksVersion = 0x04;
constexpr char kSocksConnect = 0x01;
constexpr char kSocksGranted = 0x5A;
constexpr char kSocksRejected = 0x5B;
constexpr std::size_t kSocksFixedSize = 8;  // version, command, port, address
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

std::string DottedAddress(BytesView address) {
  std::string text;
  for (std::size_t k = 0; k < address.size(); ++k) {
    if (k > 0) text += '.';
    text += std::to_string(ByteAt(address, k));
  }
  return text;
}

Bytes SocksReply(char code, BytesView destBytes) {
  Bytes reply{kSocksVersion, code};
  reply.append(destBytes);
  return reply;
}

const Bytes& FlapTemplate() {
  static const Bytes kTemplate = HexToBytes(kFlapTemplateHex);
  return kTemplate;
}

}  // namespace

// Tracks how deep the relay is inside socket notifications. Slots discarded by StopListen while a
// notification runs stay alive until the outermost one returns, so no running handler is left
// holding a destroyed socket.
class AIMProxy::Entry {
 public:
  explicit Entry(AIMProxy& proxy) : proxy_(proxy) { ++proxy_.depth_; }
  ~Entry() {
    if (--proxy_.depth_ == 0) proxy_.retired_.clear();
  }
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;

 private:
  AIMProxy& proxy_;
};

class AIMProxy::SideLink : public SocketObserver {
 public:
  SideLink(AIMProxy& proxy, Slot& slot, Side side) : proxy_(proxy), slot_(slot), side_(side) {}

  void OnConnect() override {
    Entry entry(proxy_);
    if (side_ == Side::kRemote) proxy_.OnConnect(slot_);
  }
  void OnDataArrival(std::size_t /*bytesTotal*/) override {
    Entry entry(proxy_);
    proxy_.OnArrival(slot_, side_);
  }
  void OnClose() override {
    Entry entry(proxy_);
    proxy_.OnClose(slot_, side_);
  }
  void OnError(const std::string& description) override {
    Entry entry(proxy_);
    if (side_ == Side::kRemote) proxy_.OnError(slot_, description);
  }
  void OnSendProgress(std::size_t bytesRemaining) override {
    Entry entry(proxy_);
    proxy_.OnSendProgress(slot_, side_, bytesRemaining);
  }

 private:
  AIMProxy& proxy_;
  Slot& slot_;
  Side side_;
};

class AIMProxy::ListenerLink : public ListenerObserver {
 public:
  explicit ListenerLink(AIMProxy& proxy) : proxy_(proxy) {}
  void OnConnectionRequest(RequestId id) override {
    Entry entry(proxy_);
    proxy_.OnConnectionRequest(id);
  }
  void OnAcceptError(const std::string& description) override {
    Entry entry(proxy_);
    proxy_.OnAcceptError(description);
  }

 private:
  AIMProxy& proxy_;
};

AIMProxy::AIMProxy(SocketFactory& factory, ProxyHost* host)
    : factory_(factory),
      host_(host),
      listener_(factory.CreateListener()),
      listener_link_(std::make_unique<ListenerLink>(*this)) {
  listener_->SetObserver(listener_link_.get());
  slots_.push_back(MakeSlot(0));
}

AIMProxy::~AIMProxy() {
  listener_->SetObserver(nullptr);
  listener_->Close();
  for (auto& slot : slots_) {
    for (SideState* side : {&slot->local, &slot->remote}) {
      side->sock->SetObserver(nullptr);
      side->sock->Close();
    }
  }
}

std::unique_ptr<AIMProxy::Slot> AIMProxy::MakeSlot(SlotIndex index) {
  auto slot = std::make_unique<Slot>();
  slot->index = index;
  for (Side side : {Side::kLocal, Side::kRemote}) {
    SideState& state = SideOf(*slot, side);
    state.sock = factory_.CreateSocket();
    state.link = std::make_unique<SideLink>(*this, *slot, side);
    state.sock->SetObserver(state.link.get());
  }
  return slot;
}

std::uint16_t AIMProxy::ListeningPort() const {
  return listener_->IsListening() ? listener_->LocalPort() : 0;
}

AIMProxy::Slot& AIMProxy::SlotAt(SlotIndex index) {
  if (index < 0 || index > UpperBound()) {
    throw Error("Slot " + std::to_string(index) + " does not exist");
  }
  return *slots_[static_cast<std::size_t>(index)];
}

const AIMProxy::Slot& AIMProxy::SlotAt(SlotIndex index) const {
  return const_cast<AIMProxy*>(this)->SlotAt(index);
}

const SockInfo& AIMProxy::SockInfos(SlotIndex index) const {
  return SlotAt(index).info;
}
std::int32_t AIMProxy::ClientSeq(SlotIndex index) const {
  return SlotAt(index).client_seq;
}
std::int32_t AIMProxy::ServerSeq(SlotIndex index) const {
  return SlotAt(index).server_seq;
}
AsyncSocket& AIMProxy::LocalSocks(SlotIndex index) {
  return *SlotAt(index).local.sock;
}
AsyncSocket& AIMProxy::RemoteSocks(SlotIndex index) {
  return *SlotAt(index).remote.sock;
}

bool AIMProxy::IsUp(const SideState& side) {
  return side.draining || side.sock->State() == SocketState::kConnected;
}

void AIMProxy::RaiseSocketEvent(SlotIndex index, const std::string& description) {
  if (host_ != nullptr) host_->SocketEvent(index, description);
}

// ---- Slots ----------------------------------------------------------------------------------

SlotIndex AIMProxy::CreateSock() {
  for (SlotIndex i = 1; i <= UpperBound(); ++i) {
    if (slots_[static_cast<std::size_t>(i)]->local.sock->State() != SocketState::kConnected) {
      return i;
    }
  }
  if (UpperBound() >= kMaxSlot) throw Error("No free connection slot");
  const auto n = static_cast<SlotIndex>(slots_.size());
  slots_.push_back(MakeSlot(n));
  return n;
}

void AIMProxy::ResetSock(SlotIndex index) {
  Slot& slot = SlotAt(index);
  slot.local.sock->Close();
  slot.remote.sock->Close();
  slot.info.DestHost.clear();
  slot.info.DestPort = 0;
  slot.info.AwaitingRequest = true;
  ++slot.generation;
  for (SideState* side : {&slot.local, &slot.remote}) {
    side->deferred = false;
    side->paused = false;
    side->draining = false;
  }
}

void AIMProxy::CloseSock(SlotIndex index) {
  Slot& slot = SlotAt(index);
  slot.local.sock->Close();
  slot.remote.sock->Close();
  ResetSock(index);
}

void AIMProxy::CheckSock(SlotIndex index) {
  Slot& slot = SlotAt(index);
  if (!IsUp(slot.local) || !IsUp(slot.remote)) CloseSock(index);
}

bool AIMProxy::Connection(SlotIndex index) const {
  if (index < 0 || index > UpperBound()) return false;
  return slots_[static_cast<std::size_t>(index)]->local.sock->State() == SocketState::kConnected;
}

// ---- Listening ------------------------------------------------------------------------------

void AIMProxy::StartListen(std::uint16_t port) {
  try {
    listener_->Close();
    listener_->Listen(bind_address_, port);
  } catch (...) {
    RaiseSocketEvent(0, "Start Listen Failure: " + Describe(std::current_exception()));
  }
}

void AIMProxy::StopListen() {
  try {
    DropSlots();
    listener_->Close();
    slots_[0]->remote.sock->Close();
  } catch (...) {
    RaiseSocketEvent(0, "Stop Listen Failure: " + Describe(std::current_exception()));
  }
}

void AIMProxy::DropSlots() {
  while (slots_.size() > 1) {
    std::unique_ptr<Slot> slot = std::move(slots_.back());
    slots_.pop_back();
    for (SideState* side : {&slot->local, &slot->remote}) {
      side->sock->SetObserver(nullptr);
      side->sock->Close();
    }
    ++slot->generation;
    Retire(std::move(slot));
  }
}

void AIMProxy::Retire(std::unique_ptr<Slot> slot) {
  if (depth_ > 0) retired_.push_back(std::move(slot));
}

void AIMProxy::OnConnectionRequest(RequestId id) {
  try {
    const SlotIndex i = CreateSock();
    ResetSock(i);
    Slot& slot = SlotAt(i);
    slot.local.sock->Close();
    slot.local.sock->Accept(id);
  } catch (...) {
    RaiseSocketEvent(0, "Remote Socket Failure: " + Describe(std::current_exception()));
  }
}

void AIMProxy::OnAcceptError(const std::string& description) {
  RaiseSocketEvent(0, "Remote Socket Failure: " + description);
}

// ---- Server connection ----------------------------------------------------------------------

void AIMProxy::OnConnect(Slot& slot) {
  const SlotIndex i = slot.index;
  try {
    CheckSock(i);
    SendSock(0, i, SocksReply(kSocksGranted, slot.info.DestBytes));
    // Bytes the client sent behind its request, before the connection stood, go out now.
    if (slot.local.sock->State() == SocketState::kConnected &&
        slot.local.sock->BytesAvailable() > 0) {
      RunArrivals(slot, Side::kLocal);
    }
  } catch (...) {
    RaiseSocketEvent(i, "Remote Socket Failure: " + Describe(std::current_exception()));
  }
}

void AIMProxy::OnError(Slot& slot, const std::string& description) {
  const SlotIndex i = slot.index;
  try {
    RaiseSocketEvent(
        i, "Socket Error: " + description + " (" + slot.remote.sock->RemoteHostIP() + ")");
    if (slot.info.AwaitingRequest) {
      Send(slot, Side::kLocal, SocksReply(kSocksRejected, slot.info.DestBytes));
    }
    CloseSock(i);
  } catch (...) {
    RaiseSocketEvent(i, "Remote Socket Failure: " + Describe(std::current_exception()));
  }
}

void AIMProxy::OnClose(Slot& slot, Side side) {
  const SlotIndex i = slot.index;
  SideState& closed = SideOf(slot, side);
  SideState& other = OtherOf(slot, side);
  try {
    // What the peer sent before closing goes to the other side first; the other side is then
    // closed gracefully, after its queued bytes are written.
    if (!slot.info.AwaitingRequest && other.sock->State() == SocketState::kConnected &&
        closed.sock->BytesAvailable() > 0 && !closed.running) {
      const std::uint64_t generation = slot.generation;
      closed.draining = true;
      closed.paused = false;
      closed.running = true;
      try {
        RelayBytes(slot, side, closed.sock->BytesAvailable());
      } catch (...) {
        closed.running = false;
        if (slot.generation == generation) closed.draining = false;
        throw;
      }
      closed.running = false;
      if (slot.generation != generation) return;
      closed.draining = false;
    }
    if (side == Side::kLocal) {
      RaiseSocketEvent(i, "Local Socket Closed");
      slot.remote.sock->Close();
    } else {
      RaiseSocketEvent(i, "Remote Socket Closed");
      slot.local.sock->Close();
    }
    if (slot.index <= UpperBound() && &SlotAt(slot.index) == &slot) ResetSock(i);
  } catch (...) {
    RaiseSocketEvent(i, std::string(side == Side::kLocal ? "Local Socket Failure: "
                                                         : "Remote Socket Failure: ") +
                            Describe(std::current_exception()));
  }
}

// ---- Arrivals -------------------------------------------------------------------------------

void AIMProxy::OnArrival(Slot& slot, Side side) {
  SideState& state = SideOf(slot, side);
  if (state.running || state.paused) {
    // Handled once the running handler ends, or when the other side's queue drains.
    state.deferred = true;
    return;
  }
  RunArrivals(slot, side);
}

void AIMProxy::RunArrivals(Slot& slot, Side side) {
  SideState& state = SideOf(slot, side);
  const std::uint64_t generation = slot.generation;
  state.running = true;
  do {
    state.deferred = false;
    if (side == Side::kLocal) {
      ClientArrival(slot);
    } else {
      ServerArrival(slot);
    }
  } while (slot.generation == generation && state.deferred && !state.paused &&
           state.sock->BytesAvailable() > 0);
  state.running = false;
}

void AIMProxy::ClientArrival(Slot& slot) {
  const SlotIndex i = slot.index;
  try {
    if (slot.info.AwaitingRequest) {
      RequestPhase(slot);
      return;
    }
    // Bytes that follow the request wait until the server connection stands.
    if (slot.remote.sock->State() == SocketState::kConnecting) return;
    const std::uint64_t generation = slot.generation;
    CheckSock(i);
    if (slot.generation != generation) return;
    RelayBytes(slot, Side::kLocal, slot.local.sock->BytesAvailable());
  } catch (...) {
    RaiseSocketEvent(i, "Local Socket Failure: " + Describe(std::current_exception()));
  }
}

void AIMProxy::ServerArrival(Slot& slot) {
  const SlotIndex i = slot.index;
  try {
    const std::uint64_t generation = slot.generation;
    CheckSock(i);
    if (slot.generation != generation) return;
    RelayBytes(slot, Side::kRemote, slot.remote.sock->BytesAvailable());
  } catch (...) {
    RaiseSocketEvent(i, "Remote Socking Failure: " + Describe(std::current_exception()));
  }
}

// Parses the client's SOCKS4 CONNECT request once all of it is there (8 bytes and the user id
// through its zero byte) and starts the server connection. Returns true when a request was taken.
bool AIMProxy::RequestPhase(Slot& slot) {
  AsyncSocket& client = *slot.local.sock;
  const Bytes peek = client.PeekData(kMaxRequestSize);
  const bool badVersion = !peek.empty() && peek[0] != kSocksVersion;
  const bool badCommand = peek.size() >= 2 && peek[1] != kSocksConnect;
  if (badVersion || badCommand) {
    client.GetData();  // not a SOCKS4 CONNECT: dropped, and the slot keeps waiting
    return false;
  }
  const std::size_t end =
      peek.size() > kSocksFixedSize ? peek.find('\0', kSocksFixedSize) : Bytes::npos;
  if (end == Bytes::npos) {
    if (peek.size() >= kMaxRequestSize) client.GetData();  // a user id that never ends
    return false;
  }
  const Bytes request = client.GetData(end + 1);
  const std::string host = DottedAddress(Slice(request, 4, 4));
  const std::uint64_t generation = slot.generation;
  RaiseSocketEvent(slot.index, "Connecting: " + host);
  if (slot.generation != generation) return false;
  slot.info.AwaitingRequest = false;
  slot.info.DestPort = static_cast<std::uint16_t>(WordAt(request, 2));
  slot.info.DestHost = host;
  slot.info.DestBytes = Bytes(Slice(request, 2, 6));
  slot.remote.sock->Close();
  slot.remote.sock->Connect(slot.info.DestHost, slot.info.DestPort);
  return true;
}

void AIMProxy::RelayBytes(Slot& slot, Side side, std::size_t bytesTotal) {
  AsyncSocket& sock = *SideOf(slot, side).sock;
  const bool framed =
      side == Side::kLocal ? slot.info.DestPort == kOscarPort : sock.RemotePort() == kOscarPort;
  if (framed) {
    FrameLoop(slot, side, bytesTotal);
    return;
  }
  Bytes data = sock.GetData();
  if (!data.empty()) RaiseRaw(slot, side, data);
}

// Cuts whole FLAP frames off the front of the socket's unread bytes. Only the 6-byte header is
// peeked, so a burst of many frames costs time in proportion to its bytes. A partial frame stays
// unread in the socket until more of it arrives.
void AIMProxy::FrameLoop(Slot& slot, Side side, std::size_t remaining) {
  AsyncSocket& sock = *SideOf(slot, side).sock;
  const std::uint64_t generation = slot.generation;
  while (true) {
    const Bytes header = sock.PeekData(kFlapHeaderSize);
    if (header.empty()) return;
    if (header[0] != kFlapStart) {
      // Stray bytes: everything available goes out unframed, as one chunk.
      Bytes data = sock.GetData();
      RaiseRaw(slot, side, data);
      return;
    }
    if (header.size() < kFlapHeaderSize) return;
    const std::size_t frameSize =
        kFlapHeaderSize + static_cast<std::size_t>(WordAt(header, kFlapLengthOffset));
    remaining = std::min(remaining, sock.BytesAvailable());
    if (remaining < frameSize) return;
    Bytes frame = sock.GetData(frameSize);
    RaiseFrame(slot, side, frame);
    if (slot.generation != generation) return;
    remaining -= frameSize;
    if (remaining < kFlapHeaderSize) return;
  }
}

void AIMProxy::RaiseFrame(Slot& slot, Side side, Bytes& frame) {
  if (host_ == nullptr) return;
  if (side == Side::kLocal) {
    host_->OutgoingAIM(slot.index, frame);
  } else {
    host_->IncomingAIM(slot.index, frame);
  }
}

void AIMProxy::RaiseRaw(Slot& slot, Side side, Bytes& data) {
  if (host_ == nullptr) return;
  if (side == Side::kLocal) {
    host_->OutgoingData(slot.index, slot.info.DestPort, data);
  } else {
    host_->IncomingData(slot.index, slot.info.DestPort, data);
  }
}

// ---- Sending --------------------------------------------------------------------------------

void AIMProxy::Send(Slot& slot, Side to, BytesView data) {
  SideState& target = SideOf(slot, to);
  target.sock->SendData(data);
  if (target.sock->BytesPending() > kPauseAbove) OtherOf(slot, to).paused = true;
}

void AIMProxy::OnSendProgress(Slot& slot, Side side, std::size_t bytesRemaining) {
  SideState& other = OtherOf(slot, side);
  if (!other.paused || bytesRemaining > kResumeBelow) return;
  other.paused = false;
  if (!other.running && other.sock->BytesAvailable() > 0) {
    RunArrivals(slot, side == Side::kLocal ? Side::kRemote : Side::kLocal);
  }
}

void AIMProxy::SendSock(int sockType, SlotIndex index, BytesView data) {
  Slot& slot = SlotAt(index);
  if (IsUp(slot.local) && IsUp(slot.remote)) {
    Send(slot, sockType == 0 ? Side::kLocal : Side::kRemote, data);
    return;
  }
  RaiseSocketEvent(index, "Connection was unexpectedly closed.");
  CloseSock(index);
}

void AIMProxy::FrameAndSend(SlotIndex index, Bytes& data, Side to) {
  Slot& slot = SlotAt(index);
  CheckSock(index);
  if (data.empty() || data[0] != kFlapStart) data.insert(0, FlapTemplate());
  if (data.size() < kFlapHeaderSize) throw Error("Frame is shorter than its 6-byte header");
  const std::size_t length = data.size() - kFlapHeaderSize;
  if (length > kMaxFlapDataLength) {
    throw Error("Frame data of " + std::to_string(length) + " bytes exceeds 65535");
  }
  std::int32_t& seq = to == Side::kRemote ? slot.server_seq : slot.client_seq;
  seq = seq + 1 == kSeqWrap ? 0 : seq + 1;
  PutWord(data, kFlapSequenceOffset, static_cast<std::uint16_t>(seq));
  PutWord(data, kFlapLengthOffset, static_cast<std::uint16_t>(length));
  Send(slot, to, data);
}

void AIMProxy::AIMToServer(SlotIndex index, Bytes& data) {
  try {
    FrameAndSend(index, data, Side::kRemote);
  } catch (...) {
    RaiseSocketEvent(index, "Local Send Failure: " + Describe(std::current_exception()));
  }
}

void AIMProxy::ServerToAIM(SlotIndex index, Bytes& data) {
  try {
    FrameAndSend(index, data, Side::kLocal);
  } catch (...) {
    RaiseSocketEvent(index, "Server Send Failure: " + Describe(std::current_exception()));
  }
}

}  // namespace quorvel
