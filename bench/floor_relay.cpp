// The least a relay of this kind can do, as a reference for what the machine allows: one thread,
// one epoll loop, SOCKS4 CONNECT only, each connection's bytes read into a 256 KiB buffer of its
// own, FLAP frames toward port 5190 cut and renumbered in place with a look at each frame's
// channel, and one write per read. No log, no limits, no host, no half-close: it is not a relay to
// use, only the floor a real one is measured against in the same run.
//
//   floor_relay   (listens on 127.0.0.1 at a free port and prints "Listening on 127.0.0.1:PORT"
//                  on stderr; ends on SIGTERM)

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t kBufferSize = 256 * 1024;
constexpr std::uint16_t kFlapPort = 5190;

int epollFd = -1;
unsigned channelsSeen = 0;  // keeps the look at each frame from being optimised away

// One end of a relayed connection: what was read from `fd` waits in `buffer` for `peer`.
struct Side {
  int fd = -1;
  Side* peer = nullptr;
  bool requested = false;  // the client side's SOCKS request has been answered
  bool flap = false;
  std::uint16_t sequence = 0;
  std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
  std::size_t filled = 0;  // bytes read
  std::size_t ready = 0;   // the first `ready` of them may go on
  std::size_t sent = 0;    // of which these went
};

void Watch(Side& side, std::uint32_t events, int operation) {
  epoll_event event{};
  event.events = events;
  event.data.ptr = &side;
  epoll_ctl(epollFd, operation, side.fd, &event);
}

// Sides closed during this batch of events; freed after it, as later events may name them.
std::vector<Side*> dropped;

void Drop(Side* side) {
  for (Side* end : {side, side->peer}) {
    if (end == nullptr || end->fd < 0) continue;
    close(end->fd);
    end->fd = -1;
    dropped.push_back(end);
  }
}

void NoDelay(int fd) {
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Cuts whole FLAP frames from the bytes not yet ready and renumbers them where they lie.
void CutFrames(Side& side) {
  if (!side.flap) {
    side.ready = side.filled;
    return;
  }
  auto* bytes = reinterpret_cast<unsigned char*>(side.buffer.get());
  std::size_t at = side.ready;
  while (at + 6 <= side.filled) {
    const std::size_t size = 6u + (static_cast<std::size_t>(bytes[at + 4]) << 8 | bytes[at + 5]);
    if (at + size > side.filled) break;
    channelsSeen += bytes[at + 1];
    bytes[at + 2] = static_cast<unsigned char>(side.sequence >> 8);
    bytes[at + 3] = static_cast<unsigned char>(side.sequence);
    ++side.sequence;
    at += size;
  }
  side.ready = at;
}

// Sends what is ready; when the peer cannot take it all, reading pauses until it can.
void Forward(Side& side) {
  while (side.sent < side.ready) {
    const ssize_t n =
        send(side.peer->fd, side.buffer.get() + side.sent, side.ready - side.sent, MSG_NOSIGNAL);
    if (n <= 0) {
      Watch(side, 0, EPOLL_CTL_MOD);
      Watch(*side.peer, EPOLLIN | EPOLLOUT, EPOLL_CTL_MOD);
      return;
    }
    side.sent += static_cast<std::size_t>(n);
  }
  std::memmove(side.buffer.get(), side.buffer.get() + side.ready, side.filled - side.ready);
  side.filled -= side.ready;
  side.ready = side.sent = 0;
}

// A SOCKS4 CONNECT: connects (blocking: the destinations are on loopback) and answers.
bool Answer(Side& client) {
  const char* request = client.buffer.get();
  if (client.filled < 9) return true;
  const void* end = std::memchr(request + 8, 0, client.filled - 8);
  if (end == nullptr) return true;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  std::memcpy(&to.sin_port, request + 2, 2);
  std::memcpy(&to.sin_addr, request + 4, 4);
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return false;
  }
  fcntl(fd, F_SETFL, O_NONBLOCK);
  NoDelay(fd);
  auto* server = new Side;
  server->fd = fd;
  server->peer = &client;
  server->flap = client.flap = ntohs(to.sin_port) == kFlapPort;
  client.peer = server;
  client.requested = true;
  const char granted[8] = {0, 0x5A};
  send(client.fd, granted, sizeof granted, MSG_NOSIGNAL);
  const std::size_t used = static_cast<std::size_t>(static_cast<const char*>(end) - request) + 1;
  std::memmove(client.buffer.get(), request + used, client.filled - used);
  client.filled -= used;
  Watch(*server, EPOLLIN, EPOLL_CTL_ADD);
  return true;
}

void OnReadable(Side* side) {
  const ssize_t n = read(side->fd, side->buffer.get() + side->filled, kBufferSize - side->filled);
  if (n <= 0) {
    Drop(side);
    return;
  }
  side->filled += static_cast<std::size_t>(n);
  if (!side->requested && side->peer == nullptr) {
    if (!Answer(*side)) {
      Drop(side);
      return;
    }
    if (!side->requested) return;
  }
  CutFrames(*side);
  Forward(*side);
}

// `side` can take bytes again: what its peer had read goes on, and the peer reads again.
void OnWritable(Side* side) {
  Side& from = *side->peer;
  Forward(from);
  if (from.sent == 0) {
    Watch(*side, EPOLLIN, EPOLL_CTL_MOD);
    Watch(from, EPOLLIN, EPOLL_CTL_MOD);
  }
}

}  // namespace

int main() {
  signal(SIGPIPE, SIG_IGN);
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 4096) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    std::perror("floor_relay");
    return 1;
  }
  std::fprintf(stderr, "Listening on 127.0.0.1:%d\n", ntohs(address.sin_port));
  std::fflush(stderr);
  epollFd = epoll_create1(EPOLL_CLOEXEC);
  epoll_event listening{};
  listening.events = EPOLLIN;
  listening.data.ptr = nullptr;
  epoll_ctl(epollFd, EPOLL_CTL_ADD, listener, &listening);
  epoll_event events[256];
  while (true) {
    const int count = epoll_wait(epollFd, events, 256, -1);
    for (int k = 0; k < count; ++k) {
      auto* side = static_cast<Side*>(events[k].data.ptr);
      if (side != nullptr && side->fd < 0) continue;
      if (side == nullptr) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) continue;
        NoDelay(fd);
        auto* client = new Side;
        client->fd = fd;
        Watch(*client, EPOLLIN, EPOLL_CTL_ADD);
      } else if (events[k].events & EPOLLOUT) {
        OnWritable(side);
      } else {
        OnReadable(side);
      }
    }
    for (Side* side : dropped) delete side;
    dropped.clear();
  }
}
