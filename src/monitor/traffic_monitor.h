#pragma once
// The host of the relay's events: reads server traffic (screen name, buddies), captures and
// rewrites the client's profile and away frames, turns ".a "/".b" messages into a fake away, and
// runs the periodic profile and away updates.

#include <functional>
#include <string>

#include "media/composer.h"
#include "media/format_settings.h"
#include "monitor/event_log.h"
#include "proxy/relay_host.h"
#include "wire/bytes.h"

namespace quorvel {

class TrafficMonitor : public RelayHost {
 public:
  TrafficMonitor(RelayControl& relay, Composer& composer, const UpdateSettings& settings,
                 EventLog& log);

  // RelayHost
  void FrameFromClient(SlotIndex slot, Bytes& frame) override;
  void FrameFromServer(SlotIndex slot, Bytes& frame) override;
  void BytesFromClient(SlotIndex slot, std::uint16_t port, Bytes& data) override;
  void BytesFromServer(SlotIndex slot, std::uint16_t port, Bytes& data) override;
  void RelayEvent(SlotIndex slot, const std::string& text) override;

  // One tick of the update timer: the profile update, then the away update, each sending the
  // composed frame (or, once the update was turned off, the client's own frame) to the server.
  void RunTimedUpdates();

  // Start-up: both rewritten flags cleared, the captured profile emptied, the screen name set to
  // "[ Not Logged On ]".
  void ResetForStartUp();

  // The slot of the latest set-user-information frame (0 before any).
  SlotIndex ActiveSlot() const;
  const Bytes& ScreenName() const;

  // Called with the new window title (" [ name ] - Quorvel") whenever a login reply arrives.
  void SetTitleListener(std::function<void(const std::string&)> listener);

  // The capture state: the client's latest profile frame and latest other set-user-information
  // frame, as sent; whether a composed profile or away message may stand at the server.
  const Bytes& CapturedProfile() const { return capturedProfile_; }
  const Bytes& CapturedAway() const { return capturedAway_; }
  bool ProfileRewritten() const { return profileRewritten_; }
  bool AwayRewritten() const { return awayRewritten_; }

 private:
  void InspectSetUserInfo(SlotIndex slot, Bytes& frame);
  void ApplyFakeAway(Bytes& frame);
  // The frame to send in place of the captured away frame (the capture itself when there is
  // nothing to compose).
  Bytes ComposeCapturedAway();
  void UpdateProfile();
  void UpdateAway();

  RelayControl& relay_;
  Composer& composer_;
  const UpdateSettings& settings_;
  EventLog& log_;
  std::function<void(const std::string&)> titleListener_;

  Bytes capturedProfile_;
  Bytes capturedAway_;
  bool profileRewritten_ = false;
  bool awayRewritten_ = false;
  SlotIndex activeSlot_ = 0;
  Bytes screenName_;
};

}  // namespace quorvel
