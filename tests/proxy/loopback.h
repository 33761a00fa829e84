#pragma once
// Blocking loopback sockets with time limits, for test clients and test servers that talk to the
// relay from another thread or process. Every call gives up after a few seconds.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace quorvel::testing {

inline constexpr int kIoTimeoutMs = 5000;

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    Reset();
    fd_ = std::exchange(other.fd_, -1);
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Reset(); }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int get() const { return fd_; }

 private:
  int fd_ = -1;
};

[[noreturn]] inline void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

inline sockaddr_in Address(const std::string& ip, std::uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (::inet_pton(AF_INET, ip.c_str(), &addr.sin_addr) != 1) Fail("bad address " + ip);
  return addr;
}

inline void SetTimeouts(int fd) {
  timeval tv{kIoTimeoutMs / 1000, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// A listening socket on ip:port (0: any free port). Throws when the address is taken.
inline Fd ListenOn(const std::string& ip, std::uint16_t port) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) Fail("socket");
  const int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const sockaddr_in addr = Address(ip, port);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    Fail("bind " + ip + ":" + std::to_string(port));
  }
  if (::listen(fd.get(), 1024) != 0) Fail("listen");
  return fd;
}

inline std::uint16_t LocalPort(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  return ntohs(addr.sin_port);
}

inline Fd ConnectTo(const std::string& ip, std::uint16_t port) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) Fail("socket");
  SetTimeouts(fd.get());
  const sockaddr_in addr = Address(ip, port);
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    Fail("connect " + ip + ":" + std::to_string(port));
  }
  return fd;
}

inline Fd AcceptOne(int listenFd, int timeoutMs = kIoTimeoutMs) {
  pollfd p{listenFd, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) != 1) throw std::runtime_error("no connection to accept");
  Fd fd(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC));
  if (fd.get() < 0) Fail("accept");
  SetTimeouts(fd.get());
  return fd;
}

inline void SendAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) Fail("send");
    done += static_cast<std::size_t>(n);
  }
}

inline std::string RecvExactly(int fd, std::size_t count) {
  std::string out(count, '\0');
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::recv(fd, out.data() + done, count - done, 0);
    if (n == 0) throw std::runtime_error("end of stream after " + std::to_string(done) + " bytes");
    if (n < 0) Fail("recv after " + std::to_string(done) + " bytes");
    done += static_cast<std::size_t>(n);
  }
  return out;
}

// Everything until the peer closes.
inline std::string RecvUntilEnd(int fd) {
  std::string out;
  char buf[65536];
  while (true) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n == 0) return out;
    if (n < 0) Fail("recv after " + std::to_string(out.size()) + " bytes");
    out.append(buf, static_cast<std::size_t>(n));
  }
}

// A SOCKS4 CONNECT request for ip:port with a user id.
inline std::string Socks4Request(const std::string& ip, std::uint16_t port,
                                 const std::string& userId = "tester") {
  const sockaddr_in addr = Address(ip, port);
  std::string r = {0x04, 0x01, static_cast<char>(port >> 8), static_cast<char>(port & 0xFF)};
  r.append(reinterpret_cast<const char*>(&addr.sin_addr), 4);
  r += userId;
  r += '\0';
  return r;
}

// A listening socket on some 127.0.0.x (x from 2) at `port`, for a test server that must use a
// fixed port such as 5190 without colliding with anything already there.
inline std::pair<Fd, std::string> ListenOnFreeLoopback(std::uint16_t port) {
  for (int x = 2; x < 250; ++x) {
    const std::string ip = "127.0.0." + std::to_string(x);
    try {
      return {ListenOn(ip, port), ip};
    } catch (const std::runtime_error&) {
    }
  }
  throw std::runtime_error("no free loopback address for port " + std::to_string(port));
}

}  // namespace quorvel::testing
