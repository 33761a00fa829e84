// Load generator for the relay: drives `quorvel --headless` and three references on loopback in
// the same run, back to back: danted (Dante, a SOCKS server, configured here for SOCKS4 CONNECT
// from loopback), socat (a plain TCP relay) and the floor (floor_relay.cpp: the least such a relay
// can do, to show what the machine allows). Prints a table with quorvel's and the floor's ratios
// to danted and the targets quorvel is held to.
//
//   relay_bench --quorvel PATH [--floor PATH] [--seconds S] [--soak S] [--runs N]
//
// Scenarios: bulk throughput with 1 and 16 connections (raw port), round-trip latency of small
// messages, FLAP frames per second (50- and 1000-byte frames of arbitrary data bytes to port
// 5190) with the relay's CPU time per frame, 1000 concurrent connections, and peak memory while a
// server sends flat out to a client reading 1 MB/s. The timed scenarios run N times (default 3);
// the table shows medians.

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
#include <map>
#include <memory>
#include <mutex>
#include <random>
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
    setpgid(0, 0);  // its own group, so that a relay that forks is stopped whole
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

// Starts a relay that picks a free port and tells it on stderr ("Listening on ADDRESS:PORT").
Relay StartAnnouncing(const std::string& name, const std::vector<std::string>& args,
                      const std::string& scratch) {
  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0) Die("pipe");
  const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  Relay r{name, true, Spawn(args, devnull, err[1]), 0, scratch};
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
  if (r.port == 0) throw std::runtime_error(name + " did not start: " + text);
  return r;
}

Relay StartQuorvel(const std::string& path) {
  // Its own settings file and no media player, so that the user's set-up cannot change the run.
  char dir[] = "/tmp/quorvel-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) Die("mkdtemp");
  const std::string prefs = std::string(dir) + "/prefs.ini";
  return StartAnnouncing(
      "quorvel", {path, "--headless", "--port", "0", "--prefs", prefs, "--player", "none"}, dir);
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

// danted with a configuration of its own in a scratch folder: SOCKS CONNECT from loopback to
// anywhere, no authentication, no log.
Relay StartDante() {
  char dir[] = "/tmp/quorvel-bench-dante-XXXXXX";
  if (mkdtemp(dir) == nullptr) Die("mkdtemp");
  Relay r{"danted", true, -1, FreePort(), dir};
  const std::string conf = r.scratch + "/danted.conf";
  {
    std::ofstream out(conf);
    out << "logoutput: /dev/null\n"
        << "internal: 127.0.0.1 port = " << r.port << "\n"
        << "external: 127.0.0.1\n"
        << "clientmethod: none\n"
        << "socksmethod: none\n"
        << (geteuid() == 0 ? "user.privileged: root\nuser.unprivileged: nobody\n" : "")
        << "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
        << "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 command: connect }\n";
  }
  const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  r.pid = Spawn({"danted", "-f", conf, "-p", r.scratch + "/danted.pid"}, devnull, devnull);
  close(devnull);
  for (int k = 0; k < 300; ++k) {  // wait until it listens
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = Address("127.0.0.1", r.port);
    const bool up = connect(probe, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    close(probe);
    if (up) return r;
    if (waitpid(r.pid, nullptr, WNOHANG) == r.pid) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error("danted did not start (Debian package dante-server)");
}

void RemoveScratch(const Relay& r) {
  if (r.scratch.empty()) return;
  for (const char* f : {"/prefs.ini", "/danted.conf", "/danted.pid"}) {
    std::remove((r.scratch + f).c_str());
  }
  rmdir(r.scratch.c_str());
}

void Stop(Relay& r) {
  if (r.pid <= 0) return;
  kill(-r.pid, SIGTERM);
  for (int k = 0; k < 300; ++k) {
    if (waitpid(r.pid, nullptr, WNOHANG) == r.pid) {
      r.pid = -1;
      RemoveScratch(r);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(-r.pid, SIGKILL);
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

std::vector<pid_t> Children(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  std::vector<pid_t> out;
  pid_t child = 0;
  while (in >> child) out.push_back(child);
  return out;
}

// Resident memory of a process and all its descendants (socat and danted fork).
long TreeRssKiB(pid_t pid) {
  long total = StatusKiB(pid, "VmRSS:");
  for (pid_t child : Children(pid)) total += TreeRssKiB(child);
  return total;
}

// CPU time (user and system) a process and its living descendants have used, in seconds.
double TreeCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(in, text);
  double total = 0;
  const auto close = text.rfind(')');
  if (close != std::string::npos) {
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    for (int k = 3; k <= 15 && fields >> field; ++k) {
      if (k == 14 || k == 15) total += std::atof(field.c_str());  // utime, stime in ticks
    }
    total /= static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  for (pid_t child : Children(pid)) total += TreeCpuSeconds(child);
  return total;
}

// The relay's memory: quorvel's peak resident size (one process), the references' resident size
// now, summed over their processes.
long MemoryKiB(const Relay& r) {
  return r.name == "quorvel" ? StatusKiB(r.pid, "VmHWM:") : TreeRssKiB(r.pid);
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

struct Rate {
  double bytesPerSecond = 0;
  double cpuSeconds = 0;  // the relay's, over the measured time
};

// Bytes per second reaching the sink while `conns` clients send `block` over and over.
Rate Throughput(const Relay& r, const std::string& ip, std::uint16_t port, int conns,
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
  const double cpuBefore = TreeCpuSeconds(r.pid);
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const Rate rate{static_cast<double>(sunk - before) / SecondsSince(start),
                  TreeCpuSeconds(r.pid) - cpuBefore};
  stop = true;
  for (auto& s : senders) s.join();
  if (failed > 0)
    std::fprintf(stderr, "%s: %d connections failed\n", r.name.c_str(), failed.load());
  return rate;
}

struct Latency {
  double median_us = 0;
  double p99_us = 0;
  double cpu_us = 0;  // the relay's CPU time per round trip
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
  const double cpuBefore = TreeCpuSeconds(r.pid);
  const auto start = Clock::now();
  while (SecondsSince(start) < seconds && samples.size() < 200000) {
    const auto t = Clock::now();
    if (!SendAll(fd, msg, sizeof msg) || !RecvAll(fd, msg, sizeof msg)) break;
    samples.push_back(SecondsSince(t) * 1e6);
  }
  const double cpu = TreeCpuSeconds(r.pid) - cpuBefore;
  close(fd);
  std::sort(samples.begin(), samples.end());
  if (samples.empty()) return {};
  return {samples[samples.size() / 2], samples[samples.size() * 99 / 100],
          cpu / static_cast<double>(samples.size()) * 1e6};
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
  result.rss_kib = MemoryKiB(r);
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
    if (++tick % 10 == 0) peak = std::max(peak, MemoryKiB(r));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  peak = std::max(peak, MemoryKiB(r));
  close(fd);
  *received = total;
  return peak;
}

// FLAP frames of `dataSize` arbitrary data bytes, as many as fit in `total`.
std::string Frames(std::size_t dataSize, std::size_t total) {
  std::mt19937 random(dataSize);
  std::string out;
  std::uint16_t seq = 0;
  while (out.size() + dataSize + 6 <= total) {
    out += {0x2A,
            0x02,
            static_cast<char>(seq >> 8),
            static_cast<char>(seq & 0xFF),
            static_cast<char>(dataSize >> 8),
            static_cast<char>(dataSize & 0xFF)};
    ++seq;
    for (std::size_t k = 0; k < dataSize; ++k) out += static_cast<char>(random() & 0xFF);
  }
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
  std::string measure, quorvel, dante, socat, floor, ratio, floorRatio, target;
  int verdict = 0;  // 1 met, -1 missed, 0 not a target
};

double Mib(long kib) {
  return static_cast<double>(kib) / 1024.0;
}

std::string Fmt(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Measures `relay` with `measure`, then stops it.
template <typename Measure>
auto With(Relay relay, Measure measure) {
  auto result = measure(relay);
  Stop(relay);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::string quorvelPath;
  // The floor relay: beside this program unless told otherwise; left out when missing.
  std::string floorPath =
      std::string(argv[0]).substr(0, std::string(argv[0]).rfind('/') + 1) + "floor_relay";
  double seconds = 3;
  double soak = 15;
  int runs = 3;
  std::string only;       // comma-separated scenarios; empty: all
  std::string relayList;  // comma-separated relays; empty: all
  for (int k = 1; k + 1 < argc; k += 2) {
    const std::string a = argv[k];
    if (a == "--quorvel") quorvelPath = argv[k + 1];
    if (a == "--floor") floorPath = argv[k + 1];
    if (a == "--seconds") seconds = std::atof(argv[k + 1]);
    if (a == "--soak") soak = std::atof(argv[k + 1]);
    if (a == "--runs") runs = std::max(1, std::atoi(argv[k + 1]));
    if (a == "--only") only = argv[k + 1];
    if (a == "--relays") relayList = argv[k + 1];
  }
  if (quorvelPath.empty()) {
    std::fprintf(stderr,
                 "usage: %s --quorvel PATH [--floor PATH] [--seconds S] [--soak S] [--runs N]\n"
                 "         [--only bulk1,bulk16,rtt,flap50,flap1000,many,slow]\n"
                 "         [--relays quorvel,danted,socat,floor]\n",
                 argv[0]);
    return 2;
  }
  // Whether `name` is in the comma-separated `list` (an empty list holds everything).
  const auto listed = [](const std::string& list, const std::string& name) {
    return list.empty() || ("," + list + ",").find("," + name + ",") != std::string::npos;
  };
  signal(SIGPIPE, SIG_IGN);
  rlimit lim{};
  getrlimit(RLIMIT_NOFILE, &lim);
  lim.rlim_cur = lim.rlim_max;
  setrlimit(RLIMIT_NOFILE, &lim);

  // The floor runs the timed scenarios only: it has no bounds on memory to measure.
  const char* names[] = {"quorvel", "danted", "socat", "floor"};
  constexpr int kRelays = 4;
  constexpr int kFloor = 3;
  const auto wanted = [&](const std::string& scenario) { return listed(only, scenario); };
  const auto measured = [&](int which) {
    return listed(relayList, names[which]) &&
           (which != kFloor || access(floorPath.c_str(), X_OK) == 0);
  };
  // Medians over the runs, per measure and relay (0 quorvel, 1 danted, 2 socat, 3 floor).
  std::map<std::string, std::vector<double>> samples[kRelays];
  const auto start = [&](int which, const std::string& ip, std::uint16_t port) {
    if (which == 0) return StartQuorvel(quorvelPath);
    if (which == 1) return StartDante();
    if (which == kFloor) return StartAnnouncing("floor", {floorPath}, {});
    return StartSocat(ip, port);
  };
  const double MB = 1e6;
  std::vector<Row> rows;
  double load = 0;
  try {
    {
      std::ifstream in("/proc/loadavg");
      in >> load;
    }
    Server sink(ListenOn("127.0.0.2", 0), Sink);
    Server echo(ListenOn("127.0.0.2", 0), Echo);
    auto [flapFd, flapIp] = ListenFixed(5190);
    Server flapSink(flapFd, Sink);
    const std::string bulk(256 * 1024, 'b');
    const std::string frames50 = Frames(50, 256 * 1024);
    const std::string frames1000 = Frames(1000, 256 * 1024);
    for (int run = 0; run < runs; ++run) {
      for (int which = 0; which < kRelays; ++which) {
        if (!measured(which)) continue;
        auto& into = samples[which];
        for (int conns : {1, 16}) {
          if (!wanted("bulk" + std::to_string(conns))) continue;
          const Rate t = With(start(which, "127.0.0.2", sink.Port()), [&](const Relay& r) {
            return Throughput(r, "127.0.0.2", sink.Port(), conns, bulk, seconds);
          });
          into["bulk" + std::to_string(conns)].push_back(t.bytesPerSecond);
        }
        if (wanted("rtt")) {
          const Latency l = With(start(which, "127.0.0.2", echo.Port()), [&](const Relay& r) {
            return RoundTrips(r, "127.0.0.2", echo.Port(), seconds);
          });
          into["rtt"].push_back(l.median_us);
          into["rtt99"].push_back(l.p99_us);
          into["rttcpu"].push_back(l.cpu_us);
        }
        for (std::size_t size : {std::size_t{50}, std::size_t{1000}}) {
          if (!wanted("flap" + std::to_string(size))) continue;
          const std::string& block = size == 50 ? frames50 : frames1000;
          const Rate t = With(start(which, flapIp, 5190), [&](const Relay& r) {
            return Throughput(r, flapIp, 5190, 1, block, seconds);
          });
          const double frames = t.bytesPerSecond / static_cast<double>(size + 6);
          into["flap" + std::to_string(size)].push_back(frames);
          into["flapcpu" + std::to_string(size)].push_back(
              frames > 0 ? t.cpuSeconds / (frames * seconds) * 1e9 : 0);
        }
      }
    }
    // 1000 concurrent connections, once per relay (socat is started toward the echo server).
    for (int which = 0; which < 3 && wanted("many"); ++which) {
      if (!measured(which)) continue;
      const ManyResult m = With(start(which, "127.0.0.2", echo.Port()), [&](const Relay& r) {
        const long before = MemoryKiB(r);
        ManyResult result = ManyConnections(r, "127.0.0.2", echo.Port(), 1000);
        result.rss_kib -= before;
        return result;
      });
      samples[which]["many"].push_back(m.served);
      samples[which]["manytime"].push_back(m.seconds);
      samples[which]["manykib"].push_back(static_cast<double>(m.rss_kib) / 1000.0);
    }
    // Slow reader: the three at once, each with its own flat-out server.
    if (wanted("slow")) {
      const auto flatOut = [soak](int fd) {
        const std::string block(64 * 1024, 's');
        const auto begin = Clock::now();
        while (SecondsSince(begin) < soak + 1 && SendAll(fd, block.data(), block.size())) {
        }
        shutdown(fd, SHUT_RDWR);
      };
      // The relays measured, each with its own flat-out server and slow reader.
      std::vector<int> chosen;
      for (int which = 0; which < 3; ++which) {
        if (measured(which)) chosen.push_back(which);
      }
      std::vector<std::unique_ptr<Server>> servers;
      std::vector<Relay> relays;
      for (const int which : chosen) {
        servers.push_back(std::make_unique<Server>(ListenOn("127.0.0.2", 0), flatOut));
        relays.push_back(start(which, "127.0.0.2", servers.back()->Port()));
      }
      std::vector<std::thread> readers;
      std::vector<long> peaks(chosen.size());
      std::vector<std::uint64_t> got(chosen.size());
      for (std::size_t k = 0; k < chosen.size(); ++k) {
        readers.emplace_back([&, k] {
          peaks[k] = SlowReaderPeak(relays[k], "127.0.0.2", servers[k]->Port(), soak, &got[k]);
        });
      }
      for (auto& t : readers) t.join();
      for (std::size_t k = 0; k < chosen.size(); ++k) {
        Stop(relays[k]);
        samples[chosen[k]]["slowpeak"].push_back(Mib(peaks[k]));
        samples[chosen[k]]["slowgot"].push_back(static_cast<double>(got[k]) / MB);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench failed: %s\n", e.what());
    return 1;
  }

  const auto m = [&](int which, const std::string& key) { return Median(samples[which][key]); };
  // Measures that were not run (left out with --only or --relays) get no row.
  const auto ran = [&](const std::string& key) {
    return std::any_of(std::begin(samples), std::end(samples),
                       [&](auto& relay) { return !relay[key].empty(); });
  };
  // One relay's value, or "-" for a relay that did not run the measure.
  const auto cell = [&](int which, const std::string& key, const char* format, double scale) {
    return samples[which][key].empty() ? std::string("-") : Fmt(format, m(which, key) / scale);
  };
  // A row of the relays' values; `target` is the ratio quorvel / danted must reach (at
  // least when `higher`, at most otherwise), 0 for none.
  const auto row = [&](const std::string& measure, const std::string& key, const char* format,
                       double scale, double target, bool higher) {
    if (!ran(key)) return;
    Row r{measure,
          cell(0, key, format, scale),
          cell(1, key, format, scale),
          cell(2, key, format, scale),
          cell(kFloor, key, format, scale),
          "-",
          "-",
          "-",
          0};
    const double dante = m(1, key);
    if (dante > 0) {
      const double ratio = m(0, key) / dante;
      r.ratio = Fmt("%.2fx", ratio);
      if (m(kFloor, key) > 0) r.floorRatio = Fmt("%.2fx", m(kFloor, key) / dante);
      if (target > 0) {
        r.target = (higher ? ">= " : "<= ") + Fmt("%.2fx", target);
        r.verdict = (higher ? ratio >= target : ratio <= target) ? 1 : -1;
      }
    }
    rows.push_back(r);
  };
  const auto absolute = [&](const std::string& measure, const std::string& key, const char* format,
                            double limit, const std::string& target, bool below) {
    if (!ran(key)) return;
    Row r{measure,
          cell(0, key, format, 1),
          cell(1, key, format, 1),
          cell(2, key, format, 1),
          cell(kFloor, key, format, 1),
          "-",
          "-",
          target,
          0};
    if (!target.empty() && target != "-") {
      r.verdict = (below ? m(0, key) < limit : m(0, key) >= limit) ? 1 : -1;
    }
    rows.push_back(r);
  };
  row("bulk throughput, 1 conn (MB/s)", "bulk1", "%.0f", MB, 1.1, true);
  row("bulk throughput, 16 conn (MB/s)", "bulk16", "%.0f", MB, 1.1, true);
  row("round trip median (us)", "rtt", "%.1f", 1, 0.8, false);
  row("round trip p99 (us)", "rtt99", "%.1f", 1, 0, false);
  absolute("round trip, relay CPU per trip (us)", "rttcpu", "%.1f", 0, "-", true);
  row("FLAP 50-byte frames (k frames/s)", "flap50", "%.0f", 1e3, 1.0, true);
  absolute("FLAP 50-byte, relay CPU per frame (ns)", "flapcpu50", "%.1f", 30, "< 30 ns", true);
  row("FLAP 1000-byte frames (k frames/s)", "flap1000", "%.0f", 1e3, 1.2, true);
  absolute("FLAP 1000-byte, relay CPU per frame (ns)", "flapcpu1000", "%.1f", 0, "-", true);
  absolute("1000 connections served", "many", "%.0f", 1000, ">= 1000", false);
  absolute("1000 connections time (s)", "manytime", "%.2f", 0, "-", true);
  absolute("1000 connections, memory per conn (KB)", "manykib", "%.1f", 50, "< 50 KB", true);
  absolute("slow reader peak RSS (MiB)", "slowpeak", "%.1f", 64, "< 64 MiB", true);
  absolute("slow reader received (MB)", "slowgot", "%.1f", 0, "-", true);

  std::printf("%ld cores, load average %.2f at the start, %d run(s) of %.1f s, medians\n",
              sysconf(_SC_NPROCESSORS_ONLN), load, runs, seconds);
  std::printf("| %-40s | %9s | %9s | %9s | %9s | %-7s | %-7s | %-9s | %-4s |\n", "measure",
              names[0], names[1], names[2], names[kFloor], "q/dante", "f/dante", "target", "");
  std::printf("|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n", std::string(42, '-').c_str(),
              std::string(11, '-').c_str(), std::string(11, '-').c_str(),
              std::string(11, '-').c_str(), std::string(11, '-').c_str(),
              std::string(9, '-').c_str(), std::string(9, '-').c_str(),
              std::string(11, '-').c_str(), std::string(6, '-').c_str());
  bool all = true;
  for (const Row& r : rows) {
    all = all && r.verdict >= 0;
    std::printf("| %-40s | %9s | %9s | %9s | %9s | %-7s | %-7s | %-9s | %-4s |\n",
                r.measure.c_str(), r.quorvel.c_str(), r.dante.c_str(), r.socat.c_str(),
                r.floor.c_str(), r.ratio.c_str(), r.floorRatio.c_str(), r.target.c_str(),
                r.verdict == 0 ? "" : (r.verdict > 0 ? "ok" : "MISS"));
  }
  return all ? 0 : 3;
}
