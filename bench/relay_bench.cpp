// Load generator for the relay: drives `quorvel --headless` (as a SOCKS4 proxy) and socat (as a
// plain TCP relay, the reference) on loopback in the same run and prints a table.
//
//   relay_bench --quorvel PATH [--seconds S] [--soak S]
//
// Scenarios: bulk throughput with 1 and 16 connections (raw port), round-trip latency of small
// messages, FLAP frames per second (50- and 1000-byte frames to port 5190), 1000 concurrent
// connections, and peak memory while a server sends flat out to a client reading 1 MB/s.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

[[noreturn]] void Die(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

sockaddr_in Address(const std::string& ip, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
  return a;
}

int ListenOn(const std::string& ip, std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const sockaddr_in a = Address(ip, port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4096) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::uint16_t PortOf(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

std::uint16_t FreePort() {
  const int fd = ListenOn("127.0.0.1", 0);
  const std::uint16_t port = PortOf(fd);
  close(fd);
  return port;
}

void NoDelay(int fd) {
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool RecvAll(int fd, char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = recv(fd, data, size, 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string SocksRequest(const std::string& ip, std::uint16_t port) {
  const sockaddr_in a = Address(ip, port);
  std::string r = {0x04, 0x01, static_cast<char>(port >> 8), static_cast<char>(port & 0xFF)};
  r.append(reinterpret_cast<const char*>(&a.sin_addr), 4);
  r += "bench";
  r += '\0';
  return r;
}

// ---- The relays under test ------------------------------------------------------------------

struct Relay {
  std::string name;
  bool socks = false;
  pid_t pid = -1;
  std::uint16_t port = 0;
  std::string scratch;  // a folder of the relay's own, removed when it stops

  // A connection through the relay to ip:port, ready for data; -1 on failure.
  int Open(const std::string& ip, std::uint16_t targetPort) const {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = Address("127.0.0.1", port);
    timeval tv{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
      close(fd);
      return -1;
    }
    if (socks) {
      const std::string req = SocksRequest(ip, targetPort);
      char reply[8];
      if (!SendAll(fd, req.data(), req.size()) || !RecvAll(fd, reply, 8) || reply[1] != 0x5A) {
        close(fd);
        return -1;
      }
    }
    return fd;
  }
};

pid_t Spawn(const std::vector<std::string>& args, int stdoutFd, int stderrFd) {
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(stdoutFd, 1);
    dup2(stderrFd, 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

Relay StartQuorvel(const std::string& path) {
  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0) Die("pipe");
  const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  // Its own settings file and no media player, so that the user's set-up cannot change the run.
  char dir[] = "/tmp/quorvel-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) Die("mkdtemp");
  const std::string prefs = std::string(dir) + "/prefs.ini";
  Relay r{"quorvel", true,
          Spawn({path, "--headless", "--port", "0", "--prefs", prefs, "--player", "none"}, devnull,
                err[1]),
          0, dir};
  close(devnull);
  close(err[1]);
  std::string text;
  char buf[256];
  const auto start = Clock::now();
  while (SecondsSince(start) < 10) {
    const ssize_t n = read(err[0], buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
    const auto at = text.find("Listening on ");
    const auto end = text.find('\n', at);
    if (at != std::string::npos && end != std::string::npos) {
      const std::string line = text.substr(at, end - at);
      r.port = static_cast<std::uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
      break;
    }
  }
  close(err[0]);
  if (r.port == 0) throw std::runtime_error("quorvel did not start: " + text);
  return r;
}

Relay StartSocat(const std::string& ip, std::uint16_t targetPort) {
  Relay r{"socat", false, -1, FreePort(), {}};
  const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  r.pid =
      Spawn({"socat",
             "TCP-LISTEN:" + std::to_string(r.port) + ",bind=127.0.0.1,reuseaddr,fork,backlog=4096",
             "TCP:" + ip + ":" + std::to_string(targetPort)},
            devnull, devnull);
  close(devnull);
  for (int k = 0; k < 200; ++k) {  // wait until it listens
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = Address("127.0.0.1", r.port);
    const bool up = connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    if (up) return r;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error("socat did not start");
}

void RemoveScratch(const Relay& r) {
  if (r.scratch.empty()) return;
  std::remove((r.scratch + "/prefs.ini").c_str());
  rmdir(r.scratch.c_str());
}

void Stop(Relay& r) {
  if (r.pid <= 0) return;
  kill(r.pid, SIGTERM);
  for (int k = 0; k < 300; ++k) {
    if (waitpid(r.pid, nullptr, WNOHANG) == r.pid) {
      r.pid = -1;
      RemoveScratch(r);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(r.pid, SIGKILL);
  waitpid(r.pid, nullptr, 0);
  r.pid = -1;
  RemoveScratch(r);
}

long StatusKiB(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return 0;
}

// Resident memory of a process and all its descendants (socat forks one per connection).
long TreeRssKiB(pid_t pid) {
  long total = StatusKiB(pid, "VmRSS:");
  std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  pid_t child = 0;
  while (in >> child) total += TreeRssKiB(child);
  return total;
}

// ---- Test servers ---------------------------------------------------------------------------

// Accepts connections on a thread and serves each on its own thread.
class Server {
 public:
  using Handler = std::function<void(int fd)>;
  Server(int listenFd, Handler handler) : fd_(listenFd), handler_(std::move(handler)) {
    thread_ = std::thread([this] {
      while (true) {
        const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        NoDelay(c);
        std::lock_guard<std::mutex> lock(mutex_);
        conns_.push_back(c);
        workers_.emplace_back([this, c] { handler_(c); });
      }
    });
  }
  ~Server() {
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    for (int c : conns_) shutdown(c, SHUT_RDWR);
    for (auto& w : workers_) w.join();
    for (int c : conns_) close(c);
  }
  std::uint16_t Port() const { return PortOf(fd_); }

 private:
  int fd_;
  Handler handler_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<int> conns_;
  std::vector<std::thread> workers_;
};

std::atomic<std::uint64_t> sunk{0};

void Sink(int fd) {
  std::vector<char> buf(1 << 18);
  while (true) {
    const ssize_t n = recv(fd, buf.data(), buf.size(), 0);
    if (n <= 0) return;
    sunk += static_cast<std::uint64_t>(n);
  }
}

void Echo(int fd) {
  std::vector<char> buf(1 << 16);
  while (true) {
    const ssize_t n = recv(fd, buf.data(), buf.size(), 0);
    if (n <= 0 || !SendAll(fd, buf.data(), static_cast<std::size_t>(n))) return;
  }
}

// ---- Scenarios ------------------------------------------------------------------------------

// Bytes per second reaching the sink while `conns` clients send `block` over and over.
double Throughput(const Relay& r, const std::string& ip, std::uint16_t port, int conns,
                  const std::string& block, double seconds) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> senders;
  std::atomic<int> failed{0};
  for (int k = 0; k < conns; ++k) {
    senders.emplace_back([&] {
      const int fd = r.Open(ip, port);
      if (fd < 0) {
        ++failed;
        return;
      }
      while (!stop && SendAll(fd, block.data(), block.size())) {
      }
      close(fd);
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // warm up
  const std::uint64_t before = sunk;
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double rate = static_cast<double>(sunk - before) / SecondsSince(start);
  stop = true;
  for (auto& s : senders) s.join();
  if (failed > 0)
    std::fprintf(stderr, "%s: %d connections failed\n", r.name.c_str(), failed.load());
  return rate;
}

struct Latency {
  double median_us = 0;
  double p99_us = 0;
};

Latency RoundTrips(const Relay& r, const std::string& ip, std::uint16_t port, double seconds) {
  const int fd = r.Open(ip, port);
  if (fd < 0) throw std::runtime_error(r.name + ": connection failed");
  NoDelay(fd);
  char msg[64] = "ping";
  std::vector<double> samples;
  for (int k = 0; k < 200; ++k) {
    SendAll(fd, msg, sizeof msg);
    RecvAll(fd, msg, sizeof msg);
  }
  const auto start = Clock::now();
  while (SecondsSince(start) < seconds && samples.size() < 200000) {
    const auto t = Clock::now();
    if (!SendAll(fd, msg, sizeof msg) || !RecvAll(fd, msg, sizeof msg)) break;
    samples.push_back(SecondsSince(t) * 1e6);
  }
  close(fd);
  std::sort(samples.begin(), samples.end());
  if (samples.empty()) return {};
  return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

struct ManyResult {
  int served = 0;
  double seconds = 0;
  long rss_kib = 0;
};

// `count` clients at once, all kept open; each sends a message and waits for its echo.
ManyResult ManyConnections(const Relay& r, const std::string& ip, std::uint16_t port, int count) {
  enum Phase { kConnecting, kReply, kEcho, kDone, kFailed };
  struct Conn {
    int fd = -1;
    Phase phase = kConnecting;
    std::string in;
  };
  const int ep = epoll_create1(EPOLL_CLOEXEC);
  std::vector<Conn> conns(static_cast<std::size_t>(count));
  const std::string req = SocksRequest(ip, port);
  const std::string ping = "hello from a client";
  const auto start = Clock::now();
  for (int k = 0; k < count; ++k) {
    Conn& c = conns[static_cast<std::size_t>(k)];
    c.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const sockaddr_in a = Address("127.0.0.1", r.port);
    connect(c.fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    epoll_event ev{};
    ev.events = EPOLLOUT | EPOLLIN;
    ev.data.u32 = static_cast<std::uint32_t>(k);
    epoll_ctl(ep, EPOLL_CTL_ADD, c.fd, &ev);
  }
  int done = 0;
  std::vector<epoll_event> events(256);
  while (done < count && SecondsSince(start) < 30) {
    const int n = epoll_wait(ep, events.data(), static_cast<int>(events.size()), 100);
    for (int e = 0; e < n; ++e) {
      Conn& c = conns[events[static_cast<std::size_t>(e)].data.u32];
      const auto flags = events[static_cast<std::size_t>(e)].events;
      if (c.phase == kDone || c.phase == kFailed) continue;
      if (flags & (EPOLLERR | EPOLLHUP)) {
        c.phase = kFailed;
        ++done;
        continue;
      }
      if (c.phase == kConnecting && (flags & EPOLLOUT)) {
        const std::string& first = r.socks ? req : ping;
        send(c.fd, first.data(), first.size(), MSG_NOSIGNAL);
        c.phase = r.socks ? kReply : kEcho;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = events[static_cast<std::size_t>(e)].data.u32;
        epoll_ctl(ep, EPOLL_CTL_MOD, c.fd, &ev);
        continue;
      }
      if (!(flags & EPOLLIN)) continue;
      char buf[512];
      const ssize_t got = recv(c.fd, buf, sizeof buf, 0);
      if (got <= 0) {
        c.phase = kFailed;
        ++done;
        continue;
      }
      c.in.append(buf, static_cast<std::size_t>(got));
      if (c.phase == kReply && c.in.size() >= 8) {
        c.in.erase(0, 8);
        send(c.fd, ping.data(), ping.size(), MSG_NOSIGNAL);
        c.phase = kEcho;
      }
      if (c.phase == kEcho && c.in == ping) {
        c.phase = kDone;
        ++done;
      }
    }
  }
  ManyResult result;
  result.seconds = SecondsSince(start);
  for (const Conn& c : conns) result.served += c.phase == kDone ? 1 : 0;
  result.rss_kib = r.socks ? StatusKiB(r.pid, "VmHWM:") : TreeRssKiB(r.pid);
  for (const Conn& c : conns) close(c.fd);
  close(ep);
  return result;
}

// Peak resident memory of the relay while a server sends flat out to a client reading 1 MB/s.
long SlowReaderPeak(const Relay& r, const std::string& ip, std::uint16_t port, double seconds,
                    std::uint64_t* received) {
  const int fd = r.Open(ip, port);
  if (fd < 0) throw std::runtime_error(r.name + ": connection failed");
  int small = 64 * 1024;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  long peak = 0;
  std::vector<char> buf(10000);
  const auto start = Clock::now();
  std::uint64_t total = 0;
  int tick = 0;
  while (SecondsSince(start) < seconds) {
    // 10,000 bytes every 10 ms: 1 MB/s.
    std::size_t want = buf.size();
    while (want > 0) {
      const ssize_t n = recv(fd, buf.data(), want, MSG_DONTWAIT);
      if (n <= 0) break;
      want -= static_cast<std::size_t>(n);
      total += static_cast<std::uint64_t>(n);
    }
    if (++tick % 10 == 0)
      peak = std::max(peak, r.socks ? StatusKiB(r.pid, "VmHWM:") : TreeRssKiB(r.pid));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  peak = std::max(peak, r.socks ? StatusKiB(r.pid, "VmHWM:") : TreeRssKiB(r.pid));
  close(fd);
  *received = total;
  return peak;
}

std::string Frames(std::size_t dataSize, std::size_t total) {
  std::string frame = {
      0x2A, 0x02, 0x00, 0x01, static_cast<char>(dataSize >> 8), static_cast<char>(dataSize & 0xFF)};
  frame += std::string(dataSize, 'f');
  std::string out;
  while (out.size() + frame.size() <= total) out += frame;
  return out;
}

// A free 127.0.0.x for a server on a fixed port.
std::pair<int, std::string> ListenFixed(std::uint16_t port) {
  for (int x = 2; x < 250; ++x) {
    const std::string ip = "127.0.0." + std::to_string(x);
    const int fd = ListenOn(ip, port);
    if (fd >= 0) return {fd, ip};
  }
  throw std::runtime_error("no loopback address free for port " + std::to_string(port));
}

struct Row {
  std::string measure, quorvel, reference, target;
  bool pass;
};

double Mib(long kib) {
  return static_cast<double>(kib) / 1024.0;
}

std::string Fmt(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  std::string quorvelPath;
  double seconds = 3;
  double soak = 15;
  for (int k = 1; k + 1 < argc; k += 2) {
    const std::string a = argv[k];
    if (a == "--quorvel") quorvelPath = argv[k + 1];
    if (a == "--seconds") seconds = std::atof(argv[k + 1]);
    if (a == "--soak") soak = std::atof(argv[k + 1]);
  }
  if (quorvelPath.empty()) {
    std::fprintf(stderr, "usage: %s --quorvel PATH [--seconds S] [--soak S]\n", argv[0]);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  rlimit lim{};
  getrlimit(RLIMIT_NOFILE, &lim);
  lim.rlim_cur = lim.rlim_max;
  setrlimit(RLIMIT_NOFILE, &lim);

  std::vector<Row> rows;
  const double MB = 1e6;
  try {
    // Bulk throughput, raw port.
    double raw1q = 0;
    {
      Server sink(ListenOn("127.0.0.2", 0), Sink);
      const std::uint16_t port = sink.Port();
      const std::string block(256 * 1024, 'b');
      for (int conns : {1, 16}) {
        Relay q = StartQuorvel(quorvelPath);
        Relay s = StartSocat("127.0.0.2", port);
        const double tq = Throughput(q, "127.0.0.2", port, conns, block, seconds);
        const double ts = Throughput(s, "127.0.0.2", port, conns, block, seconds);
        Stop(q);
        Stop(s);
        if (conns == 1) raw1q = tq;
        rows.push_back({"bulk throughput, " + std::to_string(conns) + " conn (MB/s)",
                        Fmt("%.0f", tq / MB), Fmt("%.0f", ts / MB), ">= reference", tq >= ts});
      }
    }
    // Round-trip latency, 64-byte messages.
    {
      Server echo(ListenOn("127.0.0.2", 0), Echo);
      const std::uint16_t port = echo.Port();
      Relay q = StartQuorvel(quorvelPath);
      Relay s = StartSocat("127.0.0.2", port);
      const Latency lq = RoundTrips(q, "127.0.0.2", port, seconds);
      const Latency ls = RoundTrips(s, "127.0.0.2", port, seconds);
      Stop(q);
      Stop(s);
      rows.push_back({"round trip median (us)", Fmt("%.1f", lq.median_us),
                      Fmt("%.1f", ls.median_us), "<= 1.2 x reference",
                      lq.median_us <= 1.2 * ls.median_us});
      rows.push_back(
          {"round trip p99 (us)", Fmt("%.1f", lq.p99_us), Fmt("%.1f", ls.p99_us), "-", true});
    }
    // FLAP frames on port 5190.
    {
      auto [fd, ip] = ListenFixed(5190);
      Server sink(fd, Sink);
      for (std::size_t size : {std::size_t{50}, std::size_t{1000}}) {
        const std::string block = Frames(size, 256 * 1024);
        Relay q = StartQuorvel(quorvelPath);
        Relay s = StartSocat(ip, 5190);
        const double tq = Throughput(q, ip, 5190, 1, block, seconds);
        const double ts = Throughput(s, ip, 5190, 1, block, seconds);
        Stop(q);
        Stop(s);
        const double fq = tq / static_cast<double>(size + 6);
        const double fs = ts / static_cast<double>(size + 6);
        const bool big = size == 1000;
        rows.push_back({"FLAP " + std::to_string(size) + "-byte frames (k frames/s)",
                        Fmt("%.0f", fq / 1e3), Fmt("%.0f", fs / 1e3),
                        big ? ">= raw/2 (" + Fmt("%.0f", raw1q / 2 / MB) + " MB/s)" : "-",
                        big ? tq >= raw1q / 2 : true});
        if (big) {
          rows.push_back({"FLAP 1000-byte frames (MB/s)", Fmt("%.0f", tq / MB),
                          Fmt("%.0f", ts / MB), "-", true});
        }
      }
    }
    // 1000 concurrent connections.
    {
      Server echo(ListenOn("127.0.0.2", 0), Echo);
      const std::uint16_t port = echo.Port();
      Relay q = StartQuorvel(quorvelPath);
      const ManyResult mq = ManyConnections(q, "127.0.0.2", port, 1000);
      Stop(q);
      Relay s = StartSocat("127.0.0.2", port);
      const ManyResult ms = ManyConnections(s, "127.0.0.2", port, 1000);
      Stop(s);
      rows.push_back({"1000 connections served", std::to_string(mq.served),
                      std::to_string(ms.served), "1000", mq.served == 1000});
      rows.push_back({"1000 connections time (s)", Fmt("%.2f", mq.seconds), Fmt("%.2f", ms.seconds),
                      "-", true});
      rows.push_back({"1000 connections peak RSS (MiB)", Fmt("%.1f", Mib(mq.rss_kib)),
                      Fmt("%.1f", Mib(ms.rss_kib)), "-", true});
    }
    // Slow reader: both relays at once, each with its own flat-out server.
    {
      const auto flatOut = [soak](int fd) {
        const std::string block(64 * 1024, 's');
        const auto start = Clock::now();
        while (SecondsSince(start) < soak + 1 && SendAll(fd, block.data(), block.size())) {
        }
        shutdown(fd, SHUT_RDWR);
      };
      Server sq(ListenOn("127.0.0.2", 0), flatOut);
      Server ss(ListenOn("127.0.0.2", 0), flatOut);
      Relay q = StartQuorvel(quorvelPath);
      Relay s = StartSocat("127.0.0.2", ss.Port());
      std::uint64_t gotQ = 0, gotS = 0;
      long peakS = 0;
      std::thread ref([&] { peakS = SlowReaderPeak(s, "127.0.0.2", ss.Port(), soak, &gotS); });
      const long peakQ = SlowReaderPeak(q, "127.0.0.2", sq.Port(), soak, &gotQ);
      ref.join();
      Stop(q);
      Stop(s);
      rows.push_back({"slow reader peak RSS (MiB)", Fmt("%.1f", Mib(peakQ)),
                      Fmt("%.1f", Mib(peakS)), "< 64", peakQ < 64 * 1024});
      rows.push_back({"slow reader received (MB)", Fmt("%.1f", static_cast<double>(gotQ) / MB),
                      Fmt("%.1f", static_cast<double>(gotS) / MB), "-", true});
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench failed: %s\n", e.what());
    return 1;
  }

  std::printf("| %-40s | %10s | %10s | %-28s | %-4s |\n", "measure", "quorvel", "socat", "target",
              "");
  std::printf("|%s|%s|%s|%s|%s|\n", std::string(42, '-').c_str(), std::string(12, '-').c_str(),
              std::string(12, '-').c_str(), std::string(30, '-').c_str(),
              std::string(6, '-').c_str());
  bool all = true;
  for (const Row& r : rows) {
    const bool checked = r.target != "-";
    all = all && r.pass;
    std::printf("| %-40s | %10s | %10s | %-28s | %-4s |\n", r.measure.c_str(), r.quorvel.c_str(),
                r.reference.c_str(), r.target.c_str(), checked ? (r.pass ? "ok" : "MISS") : "");
  }
  return all ? 0 : 3;
}
