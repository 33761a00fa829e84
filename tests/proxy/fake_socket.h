#pragma once
// A scriptable in-memory implementation of the asynchronous socket interface. The test plays the
// network: clients connect, bytes arrive, connects complete or fail, peers close; it reads back
// what the relay sent. Notifications are delivered synchronously from those calls, one at a time,
// as an event loop delivers them. A notified observer may destroy the socket: nothing touches it
// after a notification.

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "proxy/async_socket.h"
#include "wire/error.h"

namespace quorvel::testing {

class FakeNetwork;

class FakeSocket : public AsyncSocket {
 public:
  void SetObserver(SocketObserver* observer) override { observer_ = observer; }
  SocketState State() const override { return state_; }
  std::uint16_t RemotePort() const override { return port_; }
  std::string RemoteHostIP() const override { return ip_; }
  std::string LocalHostIP() const override { return localIp; }
  std::uint16_t LocalPort() const override { return localPort; }
  SocketFailure LastFailure() const override { return failure_; }
  void Connect(const std::string& host, std::uint16_t port) override {
    ip_ = host;
    port_ = port;
    state_ = SocketState::kConnecting;
  }
  void Accept(RequestId id) override;
  void SendData(BytesView data) override {
    if (state_ != SocketState::kConnected) throw Error("Socket is not connected");
    if (shutDown) throw Error("Socket is shut down for sending");
    sent.append(data);
    pending_ += data.size();
  }
  std::size_t BytesPending() const override { return pending_; }
  std::size_t BytesAvailable() const override { return inbox_.size() - head_; }
  std::span<char> WritableBuffered() override {
    return std::span<char>(inbox_.data(), inbox_.size()).subspan(head_);
  }
  void Discard(std::size_t count) override {
    head_ += std::min(count, BytesAvailable());
    if (head_ == inbox_.size()) {
      inbox_.clear();
      head_ = 0;
    }
  }
  void ShutdownWrite() override { shutDown = true; }
  void Close() override {
    state_ = SocketState::kClosed;
    inbox_.clear();
    head_ = pending_ = 0;
    shutDown = false;
  }

  // ---- The network's side ----
  void Arrive(BytesView bytes) {
    inbox_.append(bytes);
    Announce();
  }
  // The bytes that arrived quietly are announced.
  void Announce() {
    if (observer_) observer_->OnDataArrival(BytesAvailable());
  }
  // Bytes arrive unannounced, as while a nested event loop holds the notification back.
  void ArriveQuietly(BytesView bytes) { inbox_.append(bytes); }
  void CompleteConnect() {
    state_ = SocketState::kConnected;
    if (observer_) observer_->OnConnect();
  }
  void FailConnect(const std::string& description,
                   SocketFailure failure = SocketFailure::kRefused) {
    state_ = SocketState::kClosed;
    failure_ = failure;
    if (observer_) observer_->OnError(description);
  }
  // The peer finishes sending; unread bytes stay readable, and the socket can still send, until
  // the owner closes it.
  void PeerCloses() {
    if (observer_) observer_->OnClose();
  }
  // The connection fails (a reset).
  void Fail(const std::string& description) {
    state_ = SocketState::kError;
    if (observer_) observer_->OnError(description);
  }
  // A name being connected to resolved to `ip`.
  void ConnectsTo(const std::string& ip) { ip_ = ip; }
  // The connection drops with no notification yet.
  void Vanish() { state_ = SocketState::kClosed; }
  // The peer reads `count` of the queued bytes.
  void Drain(std::size_t count) {
    pending_ -= std::min(count, pending_);
    if (observer_) observer_->OnSendProgress(pending_);
  }
  Bytes TakeSent() { return std::exchange(sent, Bytes()); }
  Bytes Unread() const { return inbox_.substr(head_); }

  Bytes sent;             // what the relay sent, until taken
  bool shutDown = false;  // the owner ended its sending
  std::string localIp;
  std::uint16_t localPort = 0;

 private:
  friend class FakeNetwork;
  FakeNetwork* network_ = nullptr;
  SocketObserver* observer_ = nullptr;
  SocketState state_ = SocketState::kClosed;
  Bytes inbox_;  // unread from head_ on
  std::size_t head_ = 0;
  std::size_t pending_ = 0;
  SocketFailure failure_ = SocketFailure::kOther;
  std::string ip_;
  std::uint16_t port_ = 0;
};

class FakeListener : public AsyncListener {
 public:
  void SetObserver(ListenerObserver* o) override { observer = o; }
  void Listen(const std::string& addr, std::uint16_t port) override {
    if (!failure.empty()) throw Error(failure);
    address = addr;
    listeningPort = port;
  }
  void Close() override {
    if (!failure.empty()) throw Error(failure);
    listeningPort = 0;
  }
  bool IsListening() const override { return listeningPort != 0; }
  std::uint16_t LocalPort() const override { return listeningPort; }

  ListenerObserver* observer = nullptr;
  std::string address;
  std::uint16_t listeningPort = 0;
  std::string failure;  // non-empty: Listen and Close throw this
};

// A timer the test fires.
class FakeTimer : public AsyncTimer {
 public:
  explicit FakeTimer(std::vector<FakeTimer*>& registry) : registry_(registry) {
    registry_.push_back(this);
  }
  ~FakeTimer() override { std::erase(registry_, this); }
  void Start(int milliseconds, std::function<void()> fire) override {
    ms = milliseconds;
    fire_ = std::move(fire);
  }
  void Stop() override { fire_ = nullptr; }
  bool Running() const { return fire_ != nullptr; }
  void Fire() {
    if (auto fire = std::exchange(fire_, nullptr)) fire();
  }
  int ms = 0;

 private:
  std::vector<FakeTimer*>& registry_;
  std::function<void()> fire_;
};

class FakeNetwork : public SocketFactory {
 public:
  std::unique_ptr<AsyncSocket> MakeSocket() override {
    auto socket = std::make_unique<FakeSocket>();
    socket->network_ = this;
    return socket;
  }
  std::unique_ptr<AsyncListener> MakeListener() override {
    return std::unique_ptr<AsyncListener>(listener = new FakeListener());
  }
  std::unique_ptr<AsyncTimer> MakeTimer() override { return std::make_unique<FakeTimer>(timers); }
  // Fires every running timer.
  void FireTimers() {
    for (FakeTimer* t : std::vector(timers)) {  // a timer that fires may end others
      if (std::ranges::find(timers, t) != timers.end()) t->Fire();
    }
  }
  std::vector<FakeTimer*> timers;           // every timer that exists
  std::string clientAddress = "127.0.0.1";  // where accepted clients come from
  // A client connects to the listener (false when it is not listening).
  bool ClientConnects() {
    if (!listener->IsListening()) return false;
    listener->observer->OnConnectionRequest(1);
    return true;
  }

  FakeListener* listener = nullptr;  // the last one created
  FakeSocket* accepted = nullptr;    // the last socket that took over a connection
};

inline void FakeSocket::Accept(RequestId /*id*/) {
  state_ = SocketState::kConnected;
  if (network_ == nullptr) return;
  network_->accepted = this;
  ip_ = network_->clientAddress;
}

}  // namespace quorvel::testing
