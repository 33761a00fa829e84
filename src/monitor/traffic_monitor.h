#pragma once
// The host of the relay's events: reads server traffic (screen name, buddies), captures and
// rewrites the client's profile and away frames, turns ".a "/".b" messages into a fake away, and
// runs the periodic profile and away updates.

#include <functional>
#include <string>

#include "media/composer.h"
#include "media/format_settings.h"
#include "monitor/event_log.h"
#include "proxy/proxy_host.h"
#include "wire/bytes.h"

namespace quorvel {

class TrafficMonitor : public ProxyHost {
 public:
  TrafficMonitor(ProxyControl& proxy, Composer& composer, const UpdateSettings& settings,
                 EventLog& log);

  // ProxyHost
  void IncomingAIM(SlotIndex index, Bytes& data) override;
  void OutgoingAIM(SlotIndex index, Bytes& data) override;
  void IncomingData(SlotIndex index, std::uint16_t port, Bytes& data) override;
  void OutgoingData(SlotIndex index, std::uint16_t port, Bytes& data) override;
  void SocketEvent(SlotIndex index, const std::string& description) override;

  // One tick of the update timer: the profile update, then the away update.
  void CheckTimer();

  // Start-up: both rewritten flags cleared, the captured profile emptied, the screen name set to
  // "[ Not Logged On ]".
  void ResetForStartUp();

  // The slot of the latest set-user-information frame (0 before any).
  SlotIndex ActiveSlot() const;
  const Bytes& ScreenName() const;

  // Called with the new window title (" [ name ] - Quorvel") whenever a login reply arrives.
  void SetTitleListener(std::function<void(const std::string&)> listener);
};

}  // namespace quorvel
