#include "monitor/traffic_monitor.h"

#include <string_view>
#include <utility>

#include "monitor/composition.h"
#include "proxy/relay_events.h"
#include "wire/away_snac.h"
#include "wire/flap.h"
#include "wire/replace.h"
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
  return " [ " + Bytes(screenName) + " ] - Quorvel";
}

// A line typed as ".a text" or ".b" stands right after a tag in the message's HTML body, which
// runs from "<HTML>" through "</HTML>".
constexpr std::string_view kAwayCommand = ".a ";
constexpr std::string_view kAwayCommandAfterTag = ">.a ";
constexpr std::string_view kReturnCommandAfterTag = ">.b";
constexpr std::string_view kHtmlStart = "<HTML>";
constexpr std::string_view kHtmlEnd = "</HTML>";

}  // namespace

TrafficMonitor::TrafficMonitor(RelayControl& relay, Composer& composer,
                               const UpdateSettings& settings, EventLog& log)
    : relay_(relay), composer_(composer), settings_(settings), log_(log) {
  ResetForStartUp();
}

void TrafficMonitor::ResetForStartUp() {
  profileRewritten_ = false;
  awayRewritten_ = false;
  capturedProfile_.clear();
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
  if (frame.size() >= kSnacKeyMinFrameSize) {
    if (SnacKey(frame) == kSnacSetUserInfo) InspectSetUserInfo(slot, frame);
    ApplyFakeAway(frame);
  }
  relay_.SendFrame(Toward::kServer, slot, frame);
}

void TrafficMonitor::InspectSetUserInfo(SlotIndex slot, Bytes& frame) {
  activeSlot_ = slot;
  // Presence of the profile TLV is what matters, not its text: a profile may well read "<none>".
  if (!LocateTLV(kTlvProfile, SnacData(frame))) {
    capturedAway_ = frame;
    frame = ComposeCapturedAway();
    awayRewritten_ = true;
  } else {
    capturedProfile_ = frame;
    frame = ComposeProfileFrame(capturedProfile_, composer_);
    profileRewritten_ = true;
  }
}

void TrafficMonitor::ApplyFakeAway(Bytes& frame) {
  if (frame.find(kAwayCommandAfterTag) != Bytes::npos) {
    // Without a whole body the frame goes on as sent.
    const std::size_t start = frame.find(kHtmlStart);
    if (start == Bytes::npos) return;
    const std::size_t end = frame.find(kHtmlEnd, start);
    if (end == Bytes::npos) return;
    const BytesView body = BytesView(frame).substr(start, end + kHtmlEnd.size() - start);
    const Bytes html = ReplaceAll(body, kAwayCommand, "");
    const BytesView mime = AwayMimeFor(html);
    if (!AwaySnacFitsFrame(mime, html)) return;
    Bytes away(Slice(frame, 0, kFlapHeaderSize));
    away += MakeAwaySNAC(mime, html);
    frame = std::move(away);
    log_.ListAdd(kFakeAwayEvent);
  } else if (frame.find(kReturnCommandAfterTag) != Bytes::npos) {
    Bytes back(Slice(frame, 0, kFlapHeaderSize));
    back += MakeAwaySNAC({}, {});
    frame = std::move(back);
    log_.ListAdd(kFakeReturnEvent);
  }
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

Bytes TrafficMonitor::ComposeCapturedAway() {
  return ComposeAwayFrame(capturedAway_, composer_, settings_);
}

void TrafficMonitor::RunTimedUpdates() {
  if (!capturedProfile_.empty()) UpdateProfile();
  if (!capturedAway_.empty()) UpdateAway();
}

void TrafficMonitor::UpdateProfile() {
  if (!capturedProfile_.empty() && settings_.Enabled() && settings_.ProfileUpdates()) {
    profileRewritten_ = true;
    log_.ListAdd(kProfileUpdatedEvent);
    Bytes frame = ComposeProfileFrame(capturedProfile_, composer_);
    relay_.SendFrame(Toward::kServer, activeSlot_, frame);
  } else if (profileRewritten_) {
    // The update was turned off: the client's own profile goes back once.
    log_.ListAdd(kProfileUpdatedEvent);
    Bytes frame = capturedProfile_;
    relay_.SendFrame(Toward::kServer, activeSlot_, frame);
    profileRewritten_ = false;
  }
}

void TrafficMonitor::UpdateAway() {
  if (settings_.Enabled() && settings_.AwayUpdates() && !capturedAway_.empty()) {
    awayRewritten_ = true;
    log_.ListAdd(kAwayUpdatedEvent);
    Bytes frame = ComposeCapturedAway();
    relay_.SendFrame(Toward::kServer, activeSlot_, frame);
  } else if (awayRewritten_) {
    log_.ListAdd(kAwayUpdatedEvent);
    Bytes frame = capturedAway_;
    relay_.SendFrame(Toward::kServer, activeSlot_, frame);
    awayRewritten_ = false;
  }
}

}  // namespace quorvel
