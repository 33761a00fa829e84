#include "monitor/traffic_monitor.h"

#include <utility>
#include <vector>

#include "monitor/composition.h"
#include "monitor/instant_message.h"
#include "monitor/one_line_text.h"
#include "proxy/relay_events.h"
#include "wire/away_snac.h"
#include "wire/flap.h"
#include "wire/snac.h"
#include "wire/tlv.h"
#include "wire/word.h"

namespace quorvel {
namespace {

// What the monitor writes to the event log and the window title; users read these.
constexpr std::string_view kNotLoggedOn = "[ Not Logged On ]";
constexpr std::string_view kBuddyOnlineEvent = "Update ";    // + the buddy's name
constexpr std::string_view kBuddyOfflineEvent = "Signoff ";  // + the buddy's name
constexpr std::string_view kFakeAwayEvent = "Away [Fake]";
constexpr std::string_view kFakeReturnEvent = "Return [Fake]";
constexpr std::string_view kProfileUpdatedEvent = "Updated Profile";
constexpr std::string_view kAwayUpdatedEvent = "Updated Away";

std::string WindowTitle(BytesView screenName) {
  return " [ " + OneLineText(screenName) + " ] - Quorvel";
}

// Frames that differ at most in the sequence number and length that the relay stamps.
bool SameFrameContent(BytesView a, BytesView b) {
  if (a.size() != b.size() || a.size() < kFlapHeaderSize) return a == b;
  return a.substr(0, kFlapSequenceOffset) == b.substr(0, kFlapSequenceOffset) &&
         a.substr(kFlapHeaderSize) == b.substr(kFlapHeaderSize);
}

}  // namespace

TrafficMonitor::TrafficMonitor(RelayControl& relay, Composer& composer,
                               const UpdateSettings& settings, EventLog& log)
    : relay_(relay), composer_(composer), settings_(settings), log_(log) {
  ResetForStartUp();
}

void TrafficMonitor::ResetForStartUp() {
  captures_.clear();
  screenName_ = Bytes(kNotLoggedOn);
}

SlotIndex TrafficMonitor::ActiveSlot() const {
  return activeSlot_;
}

const Bytes& TrafficMonitor::ScreenName() const {
  return screenName_;
}

void TrafficMonitor::SetTitleListener(std::function<void(const std::string&)> listener) {
  titleListener_ = std::move(listener);
}

const TrafficMonitor::ConnectionCaptures* TrafficMonitor::CapturesOf(
    ConnectionId connection) const {
  const auto found = captures_.find(connection);
  return found == captures_.end() ? nullptr : &found->second;
}

FrameInterest TrafficMonitor::FramesWantedFromServer() const {
  return FrameInterest::Snacs({kSnacBuddyOnline, kSnacBuddyOffline, kSnacLoginReply});
}

// Instant messages are asked for by their SNAC key alone; FrameFromClient reads only those that
// are instant messages on the data channel, and sends every other frame on as it came.
FrameInterest TrafficMonitor::FramesWantedFromClient() const {
  return FrameInterest::Snacs({kSnacSetUserInfo, kSnacInstantMessage});
}

void TrafficMonitor::FrameFromServer(SlotIndex slot, Bytes& frame) {
  if (const auto key = SnacKey(frame)) {
    const BytesView rest = SnacData(frame);
    switch (*key) {
      case kSnacBuddyOnline:
      case kSnacBuddyOffline: {
        // Only the first buddy of the notice is read; a notice without a name logs nothing.
        const Bytes name = ByteLenString(rest);
        if (!name.empty()) {
          const std::string_view event =
              *key == kSnacBuddyOnline ? kBuddyOnlineEvent : kBuddyOfflineEvent;
          log_.ListAdd(std::string(event) + name);
        }
        break;
      }
      case kSnacLoginReply: {
        screenName_ = FindTLV(kTlvScreenName, rest);
        if (titleListener_) titleListener_(WindowTitle(screenName_));
        break;
      }
      default:
        break;
    }
  }
  relay_.SendFrame(Toward::kClient, slot, frame);
}

void TrafficMonitor::FrameFromClient(SlotIndex slot, Bytes& frame) {
  if (SnacKey(frame) == kSnacSetUserInfo) {
    InspectSetUserInfo(slot, frame);
  } else if (IsInstantMessage(frame)) {
    ApplyTypedCommand(slot, frame);
  }
  relay_.SendFrame(Toward::kServer, slot, frame);
}

void TrafficMonitor::InspectSetUserInfo(SlotIndex slot, Bytes& frame) {
  activeSlot_ = slot;
  DropClosedConnections();
  const BytesView chain = SnacData(frame);
  // Presence of the profile TLV is what matters, not its text: a profile may well read "<none>".
  if (LocateTLV(kTlvProfile, chain)) {
    Capture capture{frame, true, ComposeProfileFrame(frame, composer_)};
    frame = capture.lastSent;
    if (ConnectionCaptures* connection = CapturesIn(slot)) connection->profile = std::move(capture);
    return;
  }
  const auto away = LocateTLV(kTlvAwayText, chain);
  if (!away) return;  // neither a profile nor an away message (capabilities ...): as sent
  if (away->value.empty()) {
    // The client comes back: its return goes as sent, and no away message follows it.
    EndAwayCapture(slot);
    return;
  }
  Capture capture{frame, true, ComposeAwayFrame(frame, composer_, settings_)};
  frame = capture.lastSent;
  if (ConnectionCaptures* connection = CapturesIn(slot)) connection->away = std::move(capture);
}

void TrafficMonitor::ApplyTypedCommand(SlotIndex slot, Bytes& frame) {
  const std::optional<Bytes> text = InstantMessageText(frame);
  if (!text) return;
  const std::optional<TypedCommand> command = ReadTypedCommand(*text);
  if (!command) return;
  // The set-user-information frame takes the message's place in the stream.
  Bytes replacement(Slice(frame, 0, kFlapHeaderSize));
  if (command->kind == TypedCommand::Kind::kReturn) {
    replacement += MakeAwaySNAC({}, {});
    frame = std::move(replacement);
    EndAwayCapture(slot);
    log_.ListAdd(kFakeReturnEvent);
    return;
  }
  const BytesView mime = AwayMimeFor(command->awayText);
  if (!AwaySnacFitsFrame(mime, command->awayText)) return;  // goes as typed
  replacement += MakeAwaySNAC(mime, command->awayText);
  DropClosedConnections();
  // Kept like an away message the client set, so that the updates keep it current.
  Capture capture{replacement, true, ComposeAwayFrame(replacement, composer_, settings_)};
  frame = capture.lastSent;
  if (ConnectionCaptures* connection = CapturesIn(slot)) connection->away = std::move(capture);
  log_.ListAdd(kFakeAwayEvent);
}

TrafficMonitor::ConnectionCaptures* TrafficMonitor::CapturesIn(SlotIndex slot) {
  const ConnectionId connection = relay_.ClientConnection(slot);
  if (connection == 0) return nullptr;
  ConnectionCaptures& captures = captures_[connection];
  captures.slot = slot;
  return &captures;
}

void TrafficMonitor::EndAwayCapture(SlotIndex slot) {
  const auto found = captures_.find(relay_.ClientConnection(slot));
  if (found == captures_.end()) return;
  found->second.away.reset();
  if (!found->second.profile) captures_.erase(found);
}

void TrafficMonitor::DropClosedConnections() {
  std::erase_if(captures_, [this](const auto& entry) {
    return relay_.ClientConnection(entry.second.slot) != entry.first;
  });
}

void TrafficMonitor::BytesFromServer(SlotIndex slot, std::uint16_t, Bytes& data) {
  relay_.SendBytes(Toward::kClient, slot, data);
}

void TrafficMonitor::BytesFromClient(SlotIndex slot, std::uint16_t, Bytes& data) {
  relay_.SendBytes(Toward::kServer, slot, data);
}

void TrafficMonitor::RelayEvent(SlotIndex slot, const std::string& text) {
  log_.ListAdd(RelayEventLine(slot, text));
}

void TrafficMonitor::RunTimedUpdates() {
  DropClosedConnections();
  std::vector<ConnectionId> connections;
  connections.reserve(captures_.size());
  for (const auto& entry : captures_) connections.push_back(entry.first);
  // Looked up afresh before each update, in case sending ends a capture.
  for (const ConnectionId connection : connections) {
    auto found = captures_.find(connection);
    if (found != captures_.end() && found->second.profile) UpdateProfile(found->second);
    found = captures_.find(connection);
    if (found != captures_.end() && found->second.away) UpdateAway(found->second);
  }
}

void TrafficMonitor::UpdateProfile(ConnectionCaptures& connection) {
  Capture& capture = *connection.profile;
  if (settings_.Enabled() && settings_.ProfileUpdates()) {
    capture.rewritten = true;
    SendUpdate(connection.slot, capture, ComposeProfileFrame(capture.frame, composer_),
               kProfileUpdatedEvent);
  } else if (capture.rewritten) {
    // The update was turned off: the client's own profile goes back once, without tokens.
    capture.rewritten = false;
    SendUpdate(connection.slot, capture, TokenFreeProfileFrame(capture.frame, composer_),
               kProfileUpdatedEvent);
  }
}

void TrafficMonitor::UpdateAway(ConnectionCaptures& connection) {
  Capture& capture = *connection.away;
  if (settings_.Enabled() && settings_.AwayUpdates()) {
    capture.rewritten = true;
    SendUpdate(connection.slot, capture, ComposeAwayFrame(capture.frame, composer_, settings_),
               kAwayUpdatedEvent);
  } else if (capture.rewritten) {
    capture.rewritten = false;
    SendUpdate(connection.slot, capture, TokenFreeAwayFrame(capture.frame, composer_),
               kAwayUpdatedEvent);
  }
}

void TrafficMonitor::SendUpdate(SlotIndex slot, Capture& capture, Bytes frame,
                                std::string_view event) {
  if (settings_.SendOnChange() && SameFrameContent(frame, capture.lastSent)) return;
  log_.ListAdd(event);
  relay_.SendFrame(Toward::kServer, slot, frame);
  capture.lastSent = std::move(frame);
}

}  // namespace quorvel
