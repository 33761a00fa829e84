#pragma once
// What both front ends do to run the relay on the Qt event loop: real sockets, SIGPIPE ignored
// (a peer that goes away must not end the program), SIGINT and SIGTERM delivered on the event loop
// so that the front end's closing sequence runs, and, once the event loop has ended, a moment for
// closed connections to deliver what they still have queued.

#include "net/qt_socket.h"
#include "proxy/relay.h"
#include "session/termination_signals.h"

namespace quorvel {

class RelayRuntime {
 public:
  // Needs a QCoreApplication. Catches SIGINT and SIGTERM from now on (see Terminations()).
  RelayRuntime();
  ~RelayRuntime();
  RelayRuntime(const RelayRuntime&) = delete;
  RelayRuntime& operator=(const RelayRuntime&) = delete;

  // The relay; listens on 127.0.0.1 unless told otherwise. Its host must outlive Run().
  Relay& Proxy() { return proxy_; }
  // SIGINT and SIGTERM: the front end connects its closing sequence to received().
  TerminationSignals& Terminations() { return terminations_; }

  // Runs the event loop until the application quits, then gives closed connections up to two
  // seconds to drain and detaches the relay's host. Returns the event loop's exit status.
  int Run();

 private:
  TerminationSignals terminations_;
  QtSocketFactory factory_;
  Relay proxy_;
};

}  // namespace quorvel
