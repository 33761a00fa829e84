// Drives the relay through the fake network with arbitrary sequences of connects, arrivals (any
// split, either side), connect outcomes, closes and drains. Checks that every frame raised is one
// whole FLAP frame, and that the server side loses and repeats no byte: what was raised plus what
// is still unread is exactly what arrived.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "proxy/aim_proxy.h"
#include "proxy/fake_socket.h"  // tests/proxy
#include "wire/word.h"

namespace {

using quorvel::AIMProxy;
using quorvel::Bytes;
using quorvel::SlotIndex;
using quorvel::testing::FakeNetwork;
using quorvel::testing::FakeSocket;

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  Bytes Take(std::size_t n) {
    n = std::min(n, size_ - pos_);
    Bytes out(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

class CheckingHost : public quorvel::ProxyHost {
 public:
  explicit CheckingHost(AIMProxy& proxy) : proxy_(proxy) {}
  void IncomingAIM(SlotIndex i, Bytes& data) override {
    CheckFrame(data);
    Raised(i) += data;
    if (forward) proxy_.ServerToAIM(i, data);
  }
  void OutgoingAIM(SlotIndex i, Bytes& data) override {
    CheckFrame(data);
    if (forward) proxy_.AIMToServer(i, data);
  }
  void IncomingData(SlotIndex i, std::uint16_t, Bytes& data) override {
    if (data.empty()) std::abort();
    Raised(i) += data;
    if (forward) proxy_.SendSock(0, i, data);
  }
  void OutgoingData(SlotIndex i, std::uint16_t, Bytes& data) override {
    if (data.empty()) std::abort();
    if (forward) proxy_.SendSock(1, i, data);
  }
  void SocketEvent(SlotIndex, const std::string&) override {}

  static void CheckFrame(const Bytes& f) {
    if (f.size() < 6 || f[0] != 0x2A) std::abort();
    if (static_cast<std::size_t>(quorvel::WordAt(f, 4)) + 6 != f.size()) std::abort();
  }
  Bytes& Raised(SlotIndex i) { return raised[&proxy_.RemoteSocks(i)]; }

  bool forward = true;
  std::map<const void*, Bytes> raised;  // per server socket, since its connection stood
  std::map<const void*, Bytes> fed;

 private:
  AIMProxy& proxy_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  FakeNetwork net;
  AIMProxy proxy(net);
  CheckingHost host(proxy);
  proxy.SetHost(&host);
  proxy.StartListen(3131);

  auto slot = [&]() -> SlotIndex {
    const SlotIndex n = proxy.UpperBound();
    return n == 0 ? 0 : 1 + in.Byte() % n;
  };
  auto local = [&](SlotIndex i) -> FakeSocket& {
    return static_cast<FakeSocket&>(proxy.LocalSocks(i));
  };
  auto remote = [&](SlotIndex i) -> FakeSocket& {
    return static_cast<FakeSocket&>(proxy.RemoteSocks(i));
  };

  for (int steps = 0; steps < 200 && !in.Empty(); ++steps) {
    const std::uint8_t op = in.Byte() % 13;
    if (op == 0) {
      net.ClientConnects();
      continue;
    }
    if (op == 8) {
      proxy.StopListen();
      host.raised.clear();
      host.fed.clear();
      proxy.StartListen(3131);
      continue;
    }
    if (op == 9) {
      host.forward = !host.forward;
      continue;
    }
    const SlotIndex i = slot();
    if (i == 0) continue;
    switch (op) {
      case 1:
        local(i).Arrive(in.Take(in.Byte()));
        break;
      case 2: {
        FakeSocket& s = remote(i);
        const Bytes bytes = in.Take(in.Byte() * 4u);
        if (s.State() == quorvel::SocketState::kConnected) host.fed[&s] += bytes;
        s.Arrive(bytes);
        break;
      }
      case 3:
        if (remote(i).State() == quorvel::SocketState::kConnecting) {
          host.raised[&remote(i)].clear();
          host.fed[&remote(i)].clear();
          remote(i).CompleteConnect();
        }
        break;
      case 4:
        if (remote(i).State() == quorvel::SocketState::kConnecting) remote(i).FailConnect("no");
        break;
      case 5:
        local(i).PeerCloses();
        break;
      case 6:
        remote(i).PeerCloses();
        break;
      case 7:
        local(i).Drain(in.Byte() * 4096u);
        remote(i).Drain(in.Byte() * 4096u);
        break;
      case 10: {
        const bool oscar = in.Byte() & 1;
        Bytes req = {0x04,
                     0x01,
                     static_cast<char>(oscar ? 0x14 : 0x00),
                     static_cast<char>(oscar ? 0x46 : 0x50),
                     10,
                     0,
                     0,
                     1,
                     'u',
                     0};
        local(i).Arrive(req);
        break;
      }
      case 11:
        local(i).Vanish();
        break;
      case 12:
        remote(i).ArriveQuietly(in.Take(in.Byte()));
        remote(i).PeerCloses();
        break;
      default:
        break;
    }
    // The server side of every standing connection: raised + unread == arrived.
    for (SlotIndex k = 1; k <= proxy.UpperBound(); ++k) {
      FakeSocket& s = remote(k);
      if (s.State() != quorvel::SocketState::kConnected) continue;
      if (host.raised[&s] + s.Unread() != host.fed[&s]) std::abort();
    }
  }
  return 0;
}
