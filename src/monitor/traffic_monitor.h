#pragma once
// The host of the relay's events: reads server traffic (screen name, buddies), captures and
// rewrites each client connection's profile and away frames, turns the ".a text" and ".b"
// commands typed into instant messages into an away message and a return, and runs the periodic
// profile and away updates on the connections that set them.

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "media/composer.h"
#include "media/format_settings.h"
#include "monitor/event_log.h"
#include "proxy/relay_host.h"
#include "wire/bytes.h"

namespace quorvel {

class TrafficMonitor : public RelayHost {
 public:
  // A profile or away message that a client connection set, kept as the template of its updates.
  struct Capture {
    Bytes frame;             // as the client sent it (for ".a text", the away frame made of it)
    bool rewritten = false;  // a text composed by the program may stand at the server
    Bytes lastSent;          // the frame last sent for it on its connection
  };
  // What one client connection set. Its captures end with the connection.
  struct ConnectionCaptures {
    SlotIndex slot = 0;
    std::optional<Capture> profile;
    std::optional<Capture> away;
  };

  TrafficMonitor(RelayControl& relay, Composer& composer, const UpdateSettings& settings,
                 EventLog& log);

  // RelayHost. The monitor reads set-user-information frames and instant messages from the
  // client, and buddy notices and login replies from the server; every other frame, and every
  // unframed chunk, it leaves to the relay to pass on as sent.
  FrameInterest FramesWantedFromClient() const override;
  FrameInterest FramesWantedFromServer() const override;
  bool WantsBytes() const override { return false; }
  void FrameFromClient(SlotIndex slot, Bytes& frame) override;
  void FrameFromServer(SlotIndex slot, Bytes& frame) override;
  void BytesFromClient(SlotIndex slot, std::uint16_t port, Bytes& data) override;
  void BytesFromServer(SlotIndex slot, std::uint16_t port, Bytes& data) override;
  void RelayEvent(SlotIndex slot, const std::string& text) override;

  // One tick of the update timer: on every client connection still open that set a profile or
  // an away message, the profile update, then the away update, each sending the composed frame
  // (or, once the update was turned off, the client's own text without tokens). With
  // SendOnChange(), a frame equal to the last one sent for it stays back. The captures of
  // connections that have closed end here.
  void RunTimedUpdates();

  // Start-up: every capture dropped, the screen name set to "[ Not Logged On ]".
  void ResetForStartUp();

  // The slot of the latest set-user-information frame (0 before any).
  SlotIndex ActiveSlot() const;
  const Bytes& ScreenName() const;

  // Called with the new window title (" [ name ] - Quorvel") whenever a login reply arrives.
  void SetTitleListener(std::function<void(const std::string&)> listener);

  // The captures of the client connection `connection`; nothing when it set none, or they ended.
  const ConnectionCaptures* CapturesOf(ConnectionId connection) const;
  // How many client connections hold captures.
  std::size_t CapturingConnections() const { return captures_.size(); }

 private:
  void InspectSetUserInfo(SlotIndex slot, Bytes& frame);
  void ApplyTypedCommand(SlotIndex slot, Bytes& frame);
  // The captures of the connection now in `slot`, made when it has none; nullptr when the slot
  // holds no connection.
  ConnectionCaptures* CapturesIn(SlotIndex slot);
  void EndAwayCapture(SlotIndex slot);
  void DropClosedConnections();
  void UpdateProfile(ConnectionCaptures& connection);
  void UpdateAway(ConnectionCaptures& connection);
  // Sends `frame` for `capture` on `slot` and logs `event`, unless SendOnChange() holds and the
  // frame is the one last sent for it.
  void SendUpdate(SlotIndex slot, Capture& capture, Bytes frame, std::string_view event);

  RelayControl& relay_;
  Composer& composer_;
  const UpdateSettings& settings_;
  EventLog& log_;
  std::function<void(const std::string&)> titleListener_;

  std::map<ConnectionId, ConnectionCaptures> captures_;
  SlotIndex activeSlot_ = 0;
  Bytes screenName_;
};

}  // namespace quorvel
