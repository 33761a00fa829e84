#pragma once
// The asynchronous socket interface on the Qt event loop of the thread that creates the sockets:
// the factory, the timer, and the connection socket, which reads and writes its descriptor
// directly (QSocketNotifier, one read per wake-up into a buffer of its own, one send per batch of
// queued bytes) so that a burst of frames costs few system calls and no copies beyond the
// relay's. Host names are resolved with QHostInfo, off the event loop. The listener is in
// qt_listener.h.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "proxy/async_socket.h"

namespace quorvel {

class QtSocketFactory : public SocketFactory {
 public:
  // A socket buffers at most this many unread bytes; beyond it the kernel's window pushes back.
  // It holds the largest FLAP frame (65535 + 6) with room to spare.
  static constexpr std::size_t kReadBufferSize = 256 * 1024;
  // A closed connection with bytes still queued is kept this long at most to deliver them.
  static constexpr int kLingerMilliseconds = 30000;

  QtSocketFactory() = default;
  ~QtSocketFactory() override;
  QtSocketFactory(const QtSocketFactory&) = delete;
  QtSocketFactory& operator=(const QtSocketFactory&) = delete;

  std::unique_ptr<AsyncSocket> MakeSocket() override;
  std::unique_ptr<AsyncListener> MakeListener() override;
  std::unique_ptr<AsyncTimer> MakeTimer() override;

  // Connections closed by their owner that are still delivering their last bytes.
  static int LingeringCount();
  // Runs the event loop, sleeping between events, until no connection lingers or `milliseconds`
  // have passed: for the end of the program, once its own event loop has returned.
  static void DrainLingering(int milliseconds);

  // Incoming connections (their descriptors) between the listener's ConnectionRequest and a
  // socket's Accept.
  RequestId AddPending(int fd);
  // The descriptor of request `id`, now the caller's; -1 when there is none.
  int TakePending(RequestId id);

 private:
  RequestId nextId_ = 0;
  std::map<RequestId, int> pending_;
};

class QtTimer : public AsyncTimer {
 public:
  QtTimer();
  void Start(int milliseconds, std::function<void()> fire) override;
  void Stop() override;

 private:
  QTimer timer_;
  std::function<void()> fire_;
};

class QtSocket : public QObject, public AsyncSocket {
 public:
  explicit QtSocket(QtSocketFactory& factory);
  ~QtSocket() override;

  void SetObserver(SocketObserver* observer) override { observer_ = observer; }
  SocketState State() const override;
  std::uint16_t RemotePort() const override { return remotePort_; }
  std::string RemoteHostIP() const override { return remoteIp_; }
  std::string LocalHostIP() const override { return localIp_; }
  std::uint16_t LocalPort() const override { return localPort_; }
  SocketFailure LastFailure() const override { return failure_; }
  void Connect(const std::string& host, std::uint16_t port) override;
  void Accept(RequestId id) override;
  void SendData(BytesView data) override;
  std::size_t BytesPending() const override { return out_.size() - outHead_; }
  std::size_t BytesAvailable() const override { return inTail_ - inHead_; }
  std::span<char> WritableBuffered() override { return {in_.get() + inHead_, inTail_ - inHead_}; }
  void Discard(std::size_t count) override;
  void ShutdownWrite() override;
  void Close() override;

  // Writes out what sockets were given since the last flush, one send each. Runs when a
  // notification returns, so a burst of relayed frames leaves in one write.
  static void FlushWrites();

 private:
  enum class Link { kNone, kResolving, kConnecting, kConnected, kFailed };

  void Attach(int fd, Link link);
  void TryNextAddress();
  void OnReadable();
  void OnWritable();
  // Moves the read buffer, up to its last unread byte, into a new one of `capacity` bytes.
  void ResizeReadBuffer(std::size_t capacity);
  // Writes what is queued; false when the connection failed.
  bool Flush();
  void Failed(int error);
  void Failed(SocketFailure failure, const std::string& description);
  // Ends the link after a failure, without telling the observer yet.
  void MarkFailed(SocketFailure failure);
  // Delivers a notification; a flush follows once the outermost one returns.
  void Notify(const std::function<void(SocketObserver&)>& deliver);
  // Delivers it from the event loop instead: for what happens inside one of this socket's own
  // operations, which must not notify.
  void NotifyLater(std::function<void(SocketObserver&)> deliver);
  void Queue();
  void ResumeReading();

  QtSocketFactory& factory_;
  SocketObserver* observer_ = nullptr;
  int fd_ = -1;
  Link link_ = Link::kNone;
  std::unique_ptr<QSocketNotifier> readNotifier_;
  std::unique_ptr<QSocketNotifier> writeNotifier_;
  // Bumped on Close (so also on Connect and Accept), so late callbacks of the old link drop.
  std::uint64_t epoch_ = 0;

  // Unread bytes are in_[inHead_, inTail_); the buffer grows up to kReadBufferSize.
  std::unique_ptr<char[]> in_;
  std::size_t inCapacity_ = 0;
  std::size_t inHead_ = 0;
  std::size_t inTail_ = 0;
  bool peerFinished_ = false;
  bool readingStopped_ = false;  // the buffer was full: reading resumes when bytes are taken
  // How much of the room the last read took: all of it (the buffer grows for the next read), less
  // than an eighth (an empty buffer shrinks), or in between.
  enum class LastRead { kFilled, kSmall, kOther };
  LastRead lastRead_ = LastRead::kOther;

  // Queued bytes are out_[outHead_, end).
  Bytes out_;
  std::size_t outHead_ = 0;
  bool queued_ = false;  // in the list of sockets to flush
  bool shutdownWanted_ = false;
  bool shutDown_ = false;

  // Where Connect goes: the addresses left to try, and the lookup of a name.
  std::vector<std::pair<std::string, std::uint16_t>> candidates_;
  int lookupId_ = -1;
  int lastError_ = 0;

  std::string remoteIp_;
  std::uint16_t remotePort_ = 0;
  std::string localIp_;
  std::uint16_t localPort_ = 0;
  SocketFailure failure_ = SocketFailure::kOther;
};

}  // namespace quorvel
