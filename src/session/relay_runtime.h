#pragma once
// The program without a window: the relay on the Qt event loop, every socket event printed on
// standard output, SIGINT and SIGTERM for a clean stop.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "proxy/proxy_host.h"

namespace quorvel {

class AIMProxy;

struct HeadlessOptions {
  std::uint16_t port = 3131;
  std::string bind_address = "127.0.0.1";
  // The first step of the closing sequence on SIGINT or SIGTERM, before the relay stops (the
  // settings are saved there).
  std::function<void()> on_close;
};

// Makes the host that receives the relay's events. It gets the relay to send through and a sink
// that prints a socket event line; the default forwards everything unchanged.
using HostMaker = std::function<std::unique_ptr<ProxyHost>(
    ProxyControl& proxy, std::function<void(SlotIndex, const std::string&)> printEvent)>;

// Runs until SIGINT or SIGTERM (status 0) or until listening fails (status 1). Needs a
// QCoreApplication.
int RunHeadless(const HeadlessOptions& options, const HostMaker& makeHost = {});

}  // namespace quorvel
