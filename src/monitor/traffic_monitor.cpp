#include "monitor/traffic_monitor.h"

#include <string_view>
#include <utility>

#include "monitor/composition.h"
#include "wire/away_snac.h"
#include "wire/flap.h"
#include "wire/replace.h"
#include "wire/snac.h"
#include "wire/tlv.h"
#include "wire/word.h"

namespace quorvel {
namespace {

constexpr std::string_view kNotLoggedOn = "[ Not Logged On ]";

}  // namespace

TrafficMonitor::TrafficMonitor(ProxyControl& proxy, Composer& composer,
                               const UpdateSettings& settings, EventLog& log)
    : proxy_(proxy), composer_(composer), settings_(settings), log_(log) {
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

void TrafficMonitor::IncomingAIM(SlotIndex index, Bytes& data) {
  if (const auto key = SnacKey(data)) {
    const BytesView rest = SnacData(data);
    switch (*key) {
      case kSnacBuddyOnline:
      case kSnacBuddyOffline: {
        // Only the first buddy of the notice is read; a notice without a name logs nothing.
        const Bytes name = ByteLenString(rest);
        if (!name.empty()) {
          log_.ListAdd((*key == kSnacBuddyOnline ? "Update " : "Signoff ") + name);
        }
        break;
      }
      case kSnacLoginReply: {
        screenName_ = FindTLV(kTlvScreenName, rest);
        if (titleListener_) titleListener_(" [ " + screenName_ + " ] - Quorvel");
        break;
      }
      default:
        break;
    }
  }
  proxy_.ServerToAIM(index, data);
}

void TrafficMonitor::OutgoingAIM(SlotIndex index, Bytes& data) {
  if (data.size() >= kSnacKeyMinFrameSize) {
    if (SnacKey(data) == kSnacSetUserInfo) InspectSetUserInfo(index, data);
    ApplyFakeAway(data);
  }
  proxy_.AIMToServer(index, data);
}

void TrafficMonitor::InspectSetUserInfo(SlotIndex index, Bytes& data) {
  activeSlot_ = index;
  // Presence of the profile TLV is what matters, not its text: a profile may well read "<none>".
  if (!LocateTLV(kTlvProfile, SnacData(data))) {
    capturedAway_ = data;
    data = ComposeAwayFrame();
    awayRewritten_ = true;
  } else {
    capturedProfile_ = data;
    data = ComposeProfileFrame(capturedProfile_, composer_);
    profileRewritten_ = true;
  }
}

void TrafficMonitor::ApplyFakeAway(Bytes& data) {
  if (data.find(">.a ") != Bytes::npos) {
    // The message body runs from "<HTML>" through the "</HTML>" after it; without one the frame
    // goes on as sent.
    const std::size_t start = data.find("<HTML>");
    if (start == Bytes::npos) return;
    const std::size_t end = data.find("</HTML>", start);
    if (end == Bytes::npos) return;
    const Bytes html = ReplaceAll(BytesView(data).substr(start, end + 7 - start), ".a ", "");
    const BytesView mime = AwayMimeFor(html);
    if (!AwaySnacFitsFrame(mime, html)) return;
    Bytes away(Slice(data, 0, kFlapHeaderSize));
    away += MakeAwaySNAC(mime, html);
    data = std::move(away);
    log_.ListAdd("Away [Fake]");
  } else if (data.find(">.b") != Bytes::npos) {
    Bytes back(Slice(data, 0, kFlapHeaderSize));
    back += MakeAwaySNAC({}, {});
    data = std::move(back);
    log_.ListAdd("Return [Fake]");
  }
}

void TrafficMonitor::IncomingData(SlotIndex index, std::uint16_t, Bytes& data) {
  proxy_.SendSock(0, index, data);
}

void TrafficMonitor::OutgoingData(SlotIndex index, std::uint16_t, Bytes& data) {
  proxy_.SendSock(1, index, data);
}

void TrafficMonitor::SocketEvent(SlotIndex index, const std::string& description) {
  log_.ListAdd("Socket (" + std::to_string(index) + "): " + description);
}

Bytes TrafficMonitor::ComposeAwayFrame() {
  return quorvel::ComposeAwayFrame(capturedAway_, composer_, settings_);
}

void TrafficMonitor::CheckTimer() {
  if (!capturedProfile_.empty()) UpdateProfile();
  if (!capturedAway_.empty()) UpdateAway();
}

void TrafficMonitor::UpdateProfile() {
  if (!capturedProfile_.empty() && settings_.Enabled() && settings_.ProfileUpdates()) {
    profileRewritten_ = true;
    log_.ListAdd("Updated Profile");
    Bytes frame = ComposeProfileFrame(capturedProfile_, composer_);
    proxy_.AIMToServer(activeSlot_, frame);
  } else if (profileRewritten_) {
    // The update was turned off: the client's own profile goes back once.
    log_.ListAdd("Updated Profile");
    Bytes frame = capturedProfile_;
    proxy_.AIMToServer(activeSlot_, frame);
    profileRewritten_ = false;
  }
}

void TrafficMonitor::UpdateAway() {
  if (settings_.Enabled() && settings_.AwayUpdates() && !capturedAway_.empty()) {
    awayRewritten_ = true;
    log_.ListAdd("Updated Away");
    Bytes frame = ComposeAwayFrame();
    proxy_.AIMToServer(activeSlot_, frame);
  } else if (awayRewritten_) {
    log_.ListAdd("Updated Away");
    Bytes frame = capturedAway_;
    proxy_.AIMToServer(activeSlot_, frame);
    awayRewritten_ = false;
  }
}

}  // namespace quorvel
