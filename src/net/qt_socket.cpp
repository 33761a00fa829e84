#include "net/qt_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "net/qt_listener.h"
#include "wire/error.h"

namespace quorvel {
namespace {

// Chunks this large are written at once when nothing is queued before them.
constexpr std::size_t kWriteThrough = 32 * 1024;

// A new socket's first read buffer; it doubles, up to the limit, whenever a read fills it, so
// that a thousand quiet connections stay small and a busy one reads in large pieces.
constexpr std::size_t kFirstReadBuffer = 16 * 1024;
// A read that takes less than this share of the buffer counts as quiet; after it, an empty buffer
// above the first size is halved.
constexpr std::size_t kSmallReadShare = 8;

int lingering = 0;
int notifying = 0;  // notifications on the stack
bool flushPosted = false;

// Sockets given bytes to send since the last flush.
std::vector<QPointer<QtSocket>>& Unflushed() {
  static std::vector<QPointer<QtSocket>> list;
  return list;
}

std::string AddressText(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return text;
  }
  const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
  if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
    inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], text, sizeof text);
  } else {
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
  }
  return text;
}

std::uint16_t PortOf(const sockaddr_storage& address) {
  return ntohs(address.ss_family == AF_INET
                   ? reinterpret_cast<const sockaddr_in&>(address).sin_port
                   : reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
}

// The address `text` (IPv4 or IPv6) with `port`; false when `text` is not an address.
bool ToSocketAddress(const std::string& text, std::uint16_t port, sockaddr_storage& address,
                     socklen_t& size) {
  address = {};
  auto& v4 = reinterpret_cast<sockaddr_in&>(address);
  if (inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    size = sizeof(sockaddr_in);
    return true;
  }
  auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
  if (inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    size = sizeof(sockaddr_in6);
    return true;
  }
  return false;
}

SocketFailure FailureOf(int error) {
  switch (error) {
    case ECONNREFUSED:
      return SocketFailure::kRefused;
    case EHOSTUNREACH:
    case EHOSTDOWN:
      return SocketFailure::kHostUnreachable;
    case ENETUNREACH:
    case ENETDOWN:
      return SocketFailure::kNetworkUnreachable;
    case ETIMEDOUT:
      return SocketFailure::kTimedOut;
    default:
      return SocketFailure::kOther;
  }
}

// Runs `deliver` as a notification; when the outermost one returns, what it sent is flushed.
template <typename F>
void AsNotification(const F& deliver) {
  ++notifying;
  deliver();
  --notifying;
  if (notifying == 0) QtSocket::FlushWrites();
}

void NoDelay(int fd) {
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Ends a connection that its owner has closed without losing what is still queued: the queue is
// written, then the sending direction is shut down so the peer sees every byte and then the end
// of the stream; the descriptor is closed when the peer closes too, or after a time limit. Bytes
// that still arrive are read and discarded, so the kernel never resets the connection over them
// (a reset can make the peer lose what was sent last).
class Lingerer : public QObject {
 public:
  Lingerer(int fd, Bytes rest, bool shutDown)
      : fd_(fd),
        rest_(std::move(rest)),
        shutDown_(shutDown),
        reader_(fd, QSocketNotifier::Read),
        writer_(fd, QSocketNotifier::Write) {
    ++lingering;
    connect(&reader_, &QSocketNotifier::activated, this, [this] { Drain(); });
    connect(&writer_, &QSocketNotifier::activated, this, [this] { Write(); });
    QTimer::singleShot(QtSocketFactory::kLingerMilliseconds, this, [this] { Finish(); });
    Write();
  }
  ~Lingerer() override {
    --lingering;
    reader_.setEnabled(false);
    writer_.setEnabled(false);
    ::close(fd_);
  }
  Lingerer(const Lingerer&) = delete;
  Lingerer& operator=(const Lingerer&) = delete;

 private:
  void Write() {
    while (written_ < rest_.size()) {
      const ssize_t n = ::send(fd_, rest_.data() + written_, rest_.size() - written_, MSG_NOSIGNAL);
      if (n > 0) {
        written_ += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        writer_.setEnabled(true);
        return;
      } else {
        Finish();
        return;
      }
    }
    writer_.setEnabled(false);
    if (!shutDown_) {
      ::shutdown(fd_, SHUT_WR);
      shutDown_ = true;
    }
  }
  void Drain() {
    char sink[16 * 1024];
    const ssize_t n = ::read(fd_, sink, sizeof sink);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      // The peer is done, or gone: once everything is written, nothing is left to do.
      reader_.setEnabled(false);
      if (written_ >= rest_.size() || n != 0) Finish();
    }
  }
  void Finish() {
    if (finished_) return;
    finished_ = true;
    deleteLater();
  }

  int fd_;
  Bytes rest_;
  std::size_t written_ = 0;
  bool shutDown_;
  bool finished_ = false;
  QSocketNotifier reader_;
  QSocketNotifier writer_;
};

}  // namespace

// ---- Factory --------------------------------------------------------------------------------

QtSocketFactory::~QtSocketFactory() {
  for (auto& [id, fd] : pending_) ::close(fd);
}

std::unique_ptr<AsyncSocket> QtSocketFactory::MakeSocket() {
  return std::make_unique<QtSocket>(*this);
}

std::unique_ptr<AsyncListener> QtSocketFactory::MakeListener() {
  return std::make_unique<QtListener>(*this);
}

std::unique_ptr<AsyncTimer> QtSocketFactory::MakeTimer() {
  return std::make_unique<QtTimer>();
}

int QtSocketFactory::LingeringCount() {
  return lingering;
}

void QtSocketFactory::DrainLingering(int milliseconds) {
  const QDeadlineTimer deadline(milliseconds);
  // Waiting for events sleeps until one comes; this timer is the event that comes at the latest,
  // so that the deadline is seen even when the lingering connections stay silent.
  QTimer wake;
  wake.start(std::clamp(milliseconds, 1, 50));
  while (lingering > 0 && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
}

RequestId QtSocketFactory::AddPending(int fd) {
  const RequestId id = ++nextId_;
  pending_.emplace(id, fd);
  return id;
}

int QtSocketFactory::TakePending(RequestId id) {
  auto it = pending_.find(id);
  if (it == pending_.end()) return -1;
  const int fd = it->second;
  pending_.erase(it);
  return fd;
}

// ---- Timer ----------------------------------------------------------------------------------

QtTimer::QtTimer() {
  timer_.setSingleShot(true);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    if (auto fire = std::exchange(fire_, nullptr)) AsNotification(fire);
  });
}

void QtTimer::Start(int milliseconds, std::function<void()> fire) {
  fire_ = std::move(fire);
  timer_.start(milliseconds);
}

void QtTimer::Stop() {
  timer_.stop();
  fire_ = nullptr;
}

// ---- Socket ---------------------------------------------------------------------------------

QtSocket::QtSocket(QtSocketFactory& factory) : factory_(factory) {}

QtSocket::~QtSocket() {
  observer_ = nullptr;
  Close();
}

void QtSocket::Notify(const std::function<void(SocketObserver&)>& deliver) {
  // The observer may destroy this socket: nothing touches it after the call.
  AsNotification([observer = observer_, &deliver] {
    if (observer != nullptr) deliver(*observer);
  });
}

void QtSocket::NotifyLater(std::function<void(SocketObserver&)> deliver) {
  QTimer::singleShot(0, this, [this, deliver = std::move(deliver), epoch = epoch_] {
    if (epoch == epoch_) Notify(deliver);
  });
}

void QtSocket::FlushWrites() {
  flushPosted = false;
  // Each pass flushes what the last one's progress notifications queued; they queue only what
  // they read from buffers, so this ends.
  for (int pass = 0; pass < 64 && !Unflushed().empty(); ++pass) {
    std::vector<QPointer<QtSocket>> list;
    list.swap(Unflushed());
    std::vector<QPointer<QtSocket>> progressed;
    for (const QPointer<QtSocket>& entry : list) {
      QtSocket* socket = entry.data();
      if (socket == nullptr) continue;
      socket->queued_ = false;
      const std::size_t before = socket->BytesPending();
      if (socket->Flush() && socket->BytesPending() < before) progressed.push_back(entry);
    }
    for (const QPointer<QtSocket>& entry : progressed) {
      QtSocket* socket = entry.data();
      if (socket == nullptr || socket->observer_ == nullptr) continue;
      ++notifying;
      socket->observer_->OnSendProgress(socket->BytesPending());
      --notifying;
    }
  }
}

void QtSocket::Queue() {
  if (queued_) return;
  queued_ = true;
  Unflushed().emplace_back(this);
  // Outside a notification (a timer's send, say) nothing flushes on return: the event loop does.
  if (notifying == 0 && !flushPosted) {
    flushPosted = true;
    QTimer::singleShot(0, [] { FlushWrites(); });
  }
}

SocketState QtSocket::State() const {
  switch (link_) {
    case Link::kResolving:
    case Link::kConnecting:
      return SocketState::kConnecting;
    case Link::kConnected:
      return SocketState::kConnected;
    case Link::kFailed:
      return SocketState::kError;
    case Link::kNone:
      break;
  }
  return SocketState::kClosed;
}

void QtSocket::Attach(int fd, Link link) {
  fd_ = fd;
  link_ = link;
  readNotifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  writeNotifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
  connect(readNotifier_.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
  connect(writeNotifier_.get(), &QSocketNotifier::activated, this, [this] { OnWritable(); });
  readNotifier_->setEnabled(link == Link::kConnected);
  writeNotifier_->setEnabled(link == Link::kConnecting);
  if (link == Link::kConnected) {
    NoDelay(fd);
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
      localIp_ = AddressText(address);
      localPort_ = PortOf(address);
    }
    size = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
      remoteIp_ = AddressText(address);
      remotePort_ = PortOf(address);
    }
  }
}

void QtSocket::Connect(const std::string& host, std::uint16_t port) {
  Close();
  remoteIp_ = host;
  remotePort_ = port;
  failure_ = SocketFailure::kOther;
  lastError_ = 0;
  sockaddr_storage address{};
  socklen_t size = 0;
  if (ToSocketAddress(host, port, address, size)) {
    candidates_.emplace_back(host, port);
    TryNextAddress();
    return;
  }
  link_ = Link::kResolving;
  lookupId_ = QHostInfo::lookupHost(
      QString::fromStdString(host), this, [this, port, epoch = epoch_](const QHostInfo& info) {
        if (epoch != epoch_) return;
        lookupId_ = -1;
        for (const QHostAddress& found : info.addresses()) {
          candidates_.emplace_back(found.toString().toStdString(), port);
        }
        if (candidates_.empty()) {
          Failed(SocketFailure::kHostUnreachable, "Host not found");
          return;
        }
        TryNextAddress();
      });
}

// Starts connecting to the next address of the destination; when none is left, the last failure
// is told.
void QtSocket::TryNextAddress() {
  while (!candidates_.empty()) {
    const auto [host, port] = candidates_.front();
    candidates_.erase(candidates_.begin());
    sockaddr_storage address{};
    socklen_t size = 0;
    if (!ToSocketAddress(host, port, address, size)) continue;
    remoteIp_ = host;
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      lastError_ = errno;
      break;  // out of descriptors, or no such family: no other address fares better
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0 ||
        errno == EINPROGRESS) {
      // Established or not, the outcome is taken up when the socket turns writable.
      Attach(fd, Link::kConnecting);
      return;
    }
    lastError_ = errno;
    ::close(fd);
  }
  link_ = Link::kFailed;
  failure_ = FailureOf(lastError_);
  NotifyLater(
      [text = std::string(std::strerror(lastError_))](SocketObserver& o) { o.OnError(text); });
}

void QtSocket::Accept(RequestId id) {
  const int fd = factory_.TakePending(id);
  if (fd < 0) throw Error("The connection request is gone");
  Close();
  Attach(fd, Link::kConnected);
}

void QtSocket::OnWritable() {
  if (link_ == Link::kConnecting) {
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size);
    if (error != 0) {
      lastError_ = error;
      readNotifier_.reset();
      writeNotifier_.reset();
      ::close(std::exchange(fd_, -1));
      link_ = Link::kNone;
      if (!candidates_.empty()) {
        TryNextAddress();
        return;
      }
      Failed(error);
      return;
    }
    writeNotifier_->setEnabled(false);
    Attach(fd_, Link::kConnected);
    Notify([](SocketObserver& o) { o.OnConnect(); });
    return;
  }
  const std::size_t before = BytesPending();
  if (!Flush() || BytesPending() == before) return;
  Notify([this](SocketObserver& o) { o.OnSendProgress(BytesPending()); });
}

bool QtSocket::Flush() {
  if (link_ != Link::kConnected) return false;
  while (outHead_ < out_.size()) {
    const ssize_t n = ::send(fd_, out_.data() + outHead_, out_.size() - outHead_, MSG_NOSIGNAL);
    if (n > 0) {
      outHead_ += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      writeNotifier_->setEnabled(true);
      return true;
    }
    const int error = errno;
    MarkFailed(FailureOf(error));
    NotifyLater([text = std::string(std::strerror(error))](SocketObserver& o) { o.OnError(text); });
    return false;
  }
  out_.clear();
  outHead_ = 0;
  writeNotifier_->setEnabled(false);
  if (shutdownWanted_ && !shutDown_) {
    ::shutdown(fd_, SHUT_WR);
    shutDown_ = true;
  }
  return true;
}

void QtSocket::OnReadable() {
  if (link_ != Link::kConnected || peerFinished_) return;
  if (inHead_ > 0 && inHead_ == inTail_) inHead_ = inTail_ = 0;
  if (inTail_ == inCapacity_ && inHead_ > 0) {
    // Move the partial frame at the front to the buffer's start.
    std::memmove(in_.get(), in_.get() + inHead_, inTail_ - inHead_);
    inTail_ -= inHead_;
    inHead_ = 0;
  }
  if ((inTail_ == inCapacity_ || lastRead_ == LastRead::kFilled) &&
      inCapacity_ < QtSocketFactory::kReadBufferSize) {
    ResizeReadBuffer(inCapacity_ == 0
                         ? kFirstReadBuffer
                         : std::min(2 * inCapacity_, QtSocketFactory::kReadBufferSize));
  } else if (lastRead_ == LastRead::kSmall && inTail_ == 0 && inCapacity_ > kFirstReadBuffer) {
    // A connection gone quiet gives back, half at a time, what a burst made its buffer take.
    ResizeReadBuffer(inCapacity_ / 2);
  }
  if (inTail_ == inCapacity_) {
    readNotifier_->setEnabled(false);  // full: reading resumes when the owner takes bytes
    readingStopped_ = true;
    return;
  }
  const std::size_t space = inCapacity_ - inTail_;
  const ssize_t n = ::read(fd_, in_.get() + inTail_, space);
  const auto got = static_cast<std::size_t>(std::max<ssize_t>(n, 0));
  lastRead_ = got == space                          ? LastRead::kFilled
              : got < inCapacity_ / kSmallReadShare ? LastRead::kSmall
                                                    : LastRead::kOther;
  if (n > 0) {
    inTail_ += static_cast<std::size_t>(n);
    Notify([this](SocketObserver& o) { o.OnDataArrival(BytesAvailable()); });
    return;
  }
  if (n == 0) {
    peerFinished_ = true;
    readNotifier_->setEnabled(false);
    Notify([](SocketObserver& o) { o.OnClose(); });
    return;
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
  Failed(errno);
}

void QtSocket::ResizeReadBuffer(std::size_t capacity) {
  auto resized = std::make_unique_for_overwrite<char[]>(capacity);
  if (inTail_ > 0) std::memcpy(resized.get(), in_.get(), inTail_);
  in_ = std::move(resized);
  inCapacity_ = capacity;
}

void QtSocket::Failed(int error) {
  Failed(FailureOf(error), std::strerror(error));
}

void QtSocket::Failed(SocketFailure failure, const std::string& description) {
  MarkFailed(failure);
  Notify([description](SocketObserver& o) { o.OnError(description); });
}

void QtSocket::MarkFailed(SocketFailure failure) {
  link_ = Link::kFailed;
  failure_ = failure;
  if (readNotifier_) readNotifier_->setEnabled(false);
  if (writeNotifier_) writeNotifier_->setEnabled(false);
}

void QtSocket::ResumeReading() {
  readingStopped_ = false;
  if (readNotifier_ && link_ == Link::kConnected && !peerFinished_) {
    readNotifier_->setEnabled(true);
  }
}

void QtSocket::SendData(BytesView data) {
  if (link_ != Link::kConnected) throw Error("Socket is not connected");
  if (shutdownWanted_) throw Error("Socket is shut down for sending");
  if (BytesPending() == 0 && data.size() >= kWriteThrough) {
    // A large chunk with nothing queued before it goes out at once, as much as the kernel takes,
    // saving the copy into the queue; small ones wait to leave in one send.
    const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) data.remove_prefix(static_cast<std::size_t>(n));
    if (data.empty()) return;
  }
  out_.append(data);
  Queue();
}

void QtSocket::Discard(std::size_t count) {
  inHead_ += std::min(count, BytesAvailable());
  if (inHead_ == inTail_) inHead_ = inTail_ = 0;
  if (readingStopped_) ResumeReading();
}

void QtSocket::ShutdownWrite() {
  if (link_ != Link::kConnected || shutdownWanted_) return;
  shutdownWanted_ = true;
  if (BytesPending() == 0) {
    ::shutdown(fd_, SHUT_WR);
    shutDown_ = true;
  }
}

void QtSocket::Close() {
  ++epoch_;
  if (lookupId_ >= 0) QHostInfo::abortHostLookup(std::exchange(lookupId_, -1));
  candidates_.clear();
  readNotifier_.reset();
  writeNotifier_.reset();
  if (fd_ >= 0) {
    const int fd = std::exchange(fd_, -1);
    if (link_ == Link::kConnected) {
      new Lingerer(fd, out_.substr(outHead_), shutDown_);
    } else {
      ::close(fd);
    }
  }
  link_ = Link::kNone;
  // Buffers go with the connection, so that idle slots hold no memory.
  in_.reset();
  inCapacity_ = inHead_ = inTail_ = 0;
  peerFinished_ = readingStopped_ = false;
  lastRead_ = LastRead::kOther;
  Bytes().swap(out_);
  outHead_ = 0;
  shutdownWanted_ = shutDown_ = false;
  localIp_.clear();
  localPort_ = 0;
}

}  // namespace quorvel
