// Drives the relay through the fake network with arbitrary sequences of connects, arrivals (any
// split, either side), requests of every SOCKS form, connect outcomes, ends of sending, resets,
// timeouts and drains. Checks that every frame raised is one whole FLAP frame, and that the server
// side loses and repeats no byte: what was raised plus what is still unread is exactly what
// arrived.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "proxy/fake_socket.h"  // tests/proxy
#include "proxy/relay.h"
#include "wire/word.h"

namespace {

using quorvel::Bytes;
using quorvel::Relay;
using quorvel::SlotIndex;
using quorvel::Toward;
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

class CheckingHost : public quorvel::RelayHost {
 public:
  explicit CheckingHost(Relay& relay) : relay_(relay) {}
  void FrameFromServer(SlotIndex i, Bytes& frame) override {
    CheckFrame(frame);
    Raised(i) += frame;
    if (forward) relay_.SendFrame(Toward::kClient, i, frame);
  }
  void FrameFromClient(SlotIndex i, Bytes& frame) override {
    CheckFrame(frame);
    if (forward) relay_.SendFrame(Toward::kServer, i, frame);
  }
  void BytesFromServer(SlotIndex i, std::uint16_t, Bytes& data) override {
    if (data.empty()) std::abort();
    Raised(i) += data;
    if (forward) relay_.SendBytes(Toward::kClient, i, data);
  }
  void BytesFromClient(SlotIndex i, std::uint16_t, Bytes& data) override {
    if (data.empty()) std::abort();
    if (forward) relay_.SendBytes(Toward::kServer, i, data);
  }
  void RelayEvent(SlotIndex, const std::string&) override {}

  static void CheckFrame(const Bytes& f) {
    if (f.size() < 6 || f[0] != 0x2A) std::abort();
    if (static_cast<std::size_t>(quorvel::WordAt(f, 4)) + 6 != f.size()) std::abort();
  }
  Bytes& Raised(SlotIndex i) { return raised[&relay_.ServerSocket(i)]; }

  bool forward = true;
  std::map<const void*, Bytes> raised;  // per server socket, since its connection stood
  std::map<const void*, Bytes> fed;

 private:
  Relay& relay_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  FakeNetwork net;
  Relay relay(net);
  CheckingHost host(relay);
  relay.SetHost(&host);
  relay.StartListening(3131);

  auto slot = [&]() -> SlotIndex {
    const SlotIndex n = relay.HighestSlot();
    return n == 0 ? 0 : 1 + in.Byte() % n;
  };
  auto client = [&](SlotIndex i) -> FakeSocket& {
    return static_cast<FakeSocket&>(relay.ClientSocket(i));
  };
  auto server = [&](SlotIndex i) -> FakeSocket& {
    return static_cast<FakeSocket&>(relay.ServerSocket(i));
  };

  for (int steps = 0; steps < 200 && !in.Empty(); ++steps) {
    const std::uint8_t op = in.Byte() % 16;
    if (op == 0) {
      net.ClientConnects();
      continue;
    }
    if (op == 8) {
      relay.StopListening();
      host.raised.clear();
      host.fed.clear();
      relay.StartListening(3131);
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
        client(i).Arrive(in.Take(in.Byte()));
        break;
      case 2: {
        FakeSocket& s = server(i);
        const Bytes bytes = in.Take(in.Byte() * 4u);
        if (s.State() == quorvel::SocketState::kConnected) host.fed[&s] += bytes;
        s.Arrive(bytes);
        break;
      }
      case 3:
        if (server(i).State() == quorvel::SocketState::kConnecting) {
          host.raised[&server(i)].clear();
          host.fed[&server(i)].clear();
          server(i).CompleteConnect();
        }
        break;
      case 4:
        if (server(i).State() == quorvel::SocketState::kConnecting) {
          server(i).FailConnect("no", static_cast<quorvel::SocketFailure>(in.Byte() % 5));
        }
        break;
      case 5:
        if (client(i).State() == quorvel::SocketState::kConnected) client(i).PeerCloses();
        break;
      case 6:
        if (server(i).State() == quorvel::SocketState::kConnected) server(i).PeerCloses();
        break;
      case 7:
        client(i).Drain(in.Byte() * 4096u);
        server(i).Drain(in.Byte() * 4096u);
        break;
      case 10: {
        // A request of one of the forms, for port 5190 or 80.
        const std::uint8_t form = in.Byte();
        const Bytes port = (form & 1) != 0 ? Bytes("\x14\x46", 2) : Bytes("\x00\x50", 2);
        Bytes req;
        switch ((form >> 1) % 4) {
          case 0:
            req = Bytes("\x04\x01", 2) + port + Bytes("\x0A\x00\x00\x01u\x00", 6);
            break;
          case 1:
            req = Bytes("\x04\x01", 2) + port + Bytes("\x00\x00\x00\x01\x00host\x00", 10);
            break;
          case 2:
            req = Bytes("\x05\x01\x00\x05\x01\x00\x03\x04host", 11) + port;
            break;
          default:
            req = Bytes("\x05\x01\x00\x05\x01\x00\x04", 7) + Bytes(15, '\0') + '\x01' + port;
            break;
        }
        client(i).Arrive(req);
        break;
      }
      case 11:
        client(i).Vanish();
        break;
      case 12:
        if (server(i).State() == quorvel::SocketState::kConnected) {
          const Bytes bytes = in.Take(in.Byte());
          host.fed[&server(i)] += bytes;
          server(i).ArriveQuietly(bytes);
          server(i).PeerCloses();
        }
        break;
      case 13:
        if (client(i).State() == quorvel::SocketState::kConnected) {
          client(i).ArriveQuietly(in.Take(in.Byte()));
          client(i).PeerCloses();
        }
        break;
      case 14: {
        FakeSocket& s = (in.Byte() & 1) != 0 ? server(i) : client(i);
        if (s.State() == quorvel::SocketState::kConnected) s.Fail("reset");
        break;
      }
      case 15:
        net.FireTimers();
        break;
      default:
        break;
    }
    // The server side of every standing connection: raised + unread == arrived.
    for (SlotIndex k = 1; k <= relay.HighestSlot(); ++k) {
      FakeSocket& s = server(k);
      if (s.State() != quorvel::SocketState::kConnected) continue;
      if (host.raised[&s] + s.Unread() != host.fed[&s]) std::abort();
    }
  }
  return 0;
}
