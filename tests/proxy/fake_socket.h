#pragma once
// A scriptable in-memory implementation of the asynchronous socket interface. The test plays the
// network: it makes clients connect, bytes arrive, connects complete or fail and peers close, and
// reads back what the relay sent. Notifications are delivered synchronously from those calls, as
// an event loop would deliver them one at a time.

#include <algorithm>
#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "proxy/async_socket.h"
#include "wire/error.h"

namespace quorvel::testing {

class FakeNetwork;

class FakeSocket : public AsyncSocket {
 public:
  explicit FakeSocket(FakeNetwork& net);
  ~FakeSocket() override;

  void SetObserver(SocketObserver* observer) override { observer_ = observer; }
  SocketState State() const override { return state_; }
  std::uint16_t RemotePort() const override { return remote_port_; }
  std::string RemoteHostIP() const override { return remote_ip_; }

  void Connect(const std::string& host, std::uint16_t port) override {
    if (state_ != SocketState::kClosed) throw Error("Socket is not closed");
    ++connects;
    connect_host = host;
    connect_port = port;
    remote_ip_ = host;
    remote_port_ = port;
    if (!refuse_connect_now.empty()) throw Error(refuse_connect_now);
    state_ = SocketState::kConnecting;
  }
  void Accept(RequestId id) override;

  void SendData(BytesView data) override {
    if (state_ != SocketState::kConnected) throw Error("Socket is not connected");
    if (!fail_send.empty()) throw Error(fail_send);
    sent.append(data);
    pending_ += data.size();
  }
  std::size_t BytesPending() const override { return pending_; }
  std::size_t BytesAvailable() const override { return inbox_.size(); }
  Bytes PeekData(std::size_t maximum) override {
    ++peeks;
    peeked_bytes += std::min(maximum, inbox_.size());
    return inbox_.substr(0, maximum);
  }
  Bytes GetData(std::size_t maximum) override {
    Bytes out = inbox_.substr(0, maximum);
    inbox_.erase(0, out.size());
    return out;
  }
  void Close() override {
    if (state_ != SocketState::kClosed) ++closes;
    state_ = SocketState::kClosed;
    inbox_.clear();
    pending_ = 0;
  }

  // ---- The network's side ----
  // Bytes from the peer arrive; a DataArrival notification follows at once.
  void Arrive(BytesView bytes) {
    inbox_.append(bytes);
    Notify([n = inbox_.size()](SocketObserver& o) { o.OnDataArrival(n); });
  }
  // Bytes arrive without a notification (as a nested event loop would buffer them).
  void ArriveQuietly(BytesView bytes) { inbox_.append(bytes); }
  void CompleteConnect() {
    state_ = SocketState::kConnected;
    Notify([](SocketObserver& o) { o.OnConnect(); });
  }
  void FailConnect(const std::string& description) {
    state_ = SocketState::kClosed;
    Notify([description](SocketObserver& o) { o.OnError(description); });
  }
  // The peer closes. Unread bytes stay readable until the owner closes the socket.
  void PeerCloses() {
    state_ = SocketState::kClosed;
    Notify([](SocketObserver& o) { o.OnClose(); });
  }
  // The connection drops without any notification yet.
  void Vanish() { state_ = SocketState::kClosed; }
  // The peer reads `count` queued bytes.
  void Drain(std::size_t count) {
    pending_ -= std::min(count, pending_);
    Notify([n = pending_](SocketObserver& o) { o.OnSendProgress(n); });
  }
  // What was sent and is not yet taken by TakeSent.
  Bytes TakeSent() {
    Bytes out;
    out.swap(sent);
    return out;
  }
  const Bytes& Unread() const { return inbox_; }

  Bytes sent;
  int connects = 0;
  int closes = 0;
  std::string connect_host;
  std::uint16_t connect_port = 0;
  std::string refuse_connect_now;  // non-empty: Connect throws this at once
  std::string fail_send;           // non-empty: SendData throws this
  std::size_t peeks = 0;
  std::size_t peeked_bytes = 0;

 private:
  friend class FakeNetwork;
  template <typename F>
  void Notify(F f) {
    // The observer may destroy this socket; nothing here touches it afterwards.
    if (SocketObserver* o = observer_) f(*o);
  }

  FakeNetwork& net_;
  SocketObserver* observer_ = nullptr;
  SocketState state_ = SocketState::kClosed;
  Bytes inbox_;
  std::size_t pending_ = 0;
  std::string remote_ip_;
  std::uint16_t remote_port_ = 0;
};

class FakeListener : public AsyncListener {
 public:
  explicit FakeListener(FakeNetwork& net);
  ~FakeListener() override;
  void SetObserver(ListenerObserver* observer) override { observer_ = observer; }
  void Listen(const std::string& address, std::uint16_t port) override;
  void Close() override {
    if (!close_failure.empty()) throw Error(close_failure);
    listening_ = false;
  }
  bool IsListening() const override { return listening_; }
  std::uint16_t LocalPort() const override { return listening_ ? port_ : 0; }

  std::string address;
  std::string close_failure;  // non-empty: Close throws this
  ListenerObserver* observer_ = nullptr;

 private:
  FakeNetwork& net_;
  bool listening_ = false;
  std::uint16_t port_ = 0;
};

class FakeNetwork : public SocketFactory {
 public:
  std::unique_ptr<AsyncSocket> CreateSocket() override {
    return std::make_unique<FakeSocket>(*this);
  }
  std::unique_ptr<AsyncListener> CreateListener() override {
    return std::make_unique<FakeListener>(*this);
  }

  // A client connects to the listener. Returns the socket that accepted it, or nullptr.
  FakeSocket* ClientConnects() {
    if (listener == nullptr || !listener->IsListening() || listener->observer_ == nullptr) {
      return nullptr;
    }
    const RequestId id = ++next_id_;
    pending_.insert(id);
    accepted_by_ = nullptr;
    listener->observer_->OnConnectionRequest(id);
    pending_.erase(id);
    return accepted_by_;
  }
  void AcceptFails(const std::string& description) {
    if (listener != nullptr && listener->observer_ != nullptr) {
      listener->observer_->OnAcceptError(description);
    }
  }
  bool Alive(const FakeSocket* s) const { return live_.count(s) > 0; }

  FakeListener* listener = nullptr;
  std::string listen_failure;  // non-empty: Listen throws this

 private:
  friend class FakeSocket;
  friend class FakeListener;
  RequestId next_id_ = 0;
  std::set<RequestId> pending_;
  FakeSocket* accepted_by_ = nullptr;
  std::set<const FakeSocket*> live_;
};

inline FakeSocket::FakeSocket(FakeNetwork& net) : net_(net) {
  net_.live_.insert(this);
}
inline FakeSocket::~FakeSocket() {
  net_.live_.erase(this);
}

inline void FakeSocket::Accept(RequestId id) {
  if (state_ != SocketState::kClosed) throw Error("Socket is not closed");
  if (net_.pending_.erase(id) == 0) throw Error("No such connection request");
  state_ = SocketState::kConnected;
  remote_ip_ = "127.0.0.1";
  remote_port_ = 40000;
  net_.accepted_by_ = this;
}

inline FakeListener::FakeListener(FakeNetwork& net) : net_(net) {
  net_.listener = this;
}
inline FakeListener::~FakeListener() {
  if (net_.listener == this) net_.listener = nullptr;
}
inline void FakeListener::Listen(const std::string& addr, std::uint16_t port) {
  if (!net_.listen_failure.empty()) throw Error(net_.listen_failure);
  address = addr;
  port_ = port == 0 ? 31310 : port;
  listening_ = true;
}

}  // namespace quorvel::testing
