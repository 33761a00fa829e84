#include "monitor/traffic_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "monitor_fakes.h"
#include "test_bytes.h"
#include "wire/away_snac.h"

namespace quorvel::testing {
namespace {

using ::testing::ElementsAre;

const Bytes kAscii(kAwayMimeUsAscii), kUtf8(kAwayMimeUtf8), kCafe = "Caf\xC3\xA9";
const auto TLV = MakeTLV;

class TrafficMonitorTest : public ::testing::Test {
 protected:
  static Bytes SetInfo(BytesView tlvs) { return Snac(2, 4, tlvs); }
  static Bytes Profile(BytesView t, BytesView m = kAscii) { return SetInfo(TLV(1, m) + TLV(2, t)); }
  static Bytes Away(BytesView m, BytesView t) { return SetInfo(TLV(3, m) + TLV(4, t)); }
  static Bytes Html(BytesView t) { return "<HTML><BODY>" + Bytes(t) + "</BODY></HTML>"; }
  // An instant message whose HTML body holds `t`, the way clients send it.
  static Bytes Im(BytesView t) { return Snac(4, 6, "bob" + TLV(2, Html(t))); }
  // What goes out in place of `typed`: its FLAP header (the relay stamps sequence number and
  // length when it sends), then the SNAC `s`.
  static Bytes At(BytesView typed, BytesView s) { return Bytes(typed.substr(0, 6)) + Bytes(s); }

  // Feeds one client frame; the frame that went to the server, exactly once, in its place.
  Bytes Outgoing(Bytes frame, SlotIndex index = 1) {
    proxy.sent.clear();
    monitor.OutgoingAIM(index, frame);
    EXPECT_EQ(proxy.sent, (std::vector<Sent>{{'S', index, frame}}));
    return frame;
  }

  // The frames one tick sends ("?" for one not sent to the server on slot `i`).
  std::vector<Bytes> Tick(SlotIndex i) {
    proxy.sent.clear();
    monitor.CheckTimer();
    std::vector<Bytes> frames;
    for (const auto& [to, slot, data] : proxy.sent)
      frames.push_back(to == 'S' && slot == i ? data : "?");
    return frames;
  }

  RecordingProxy proxy;
  SwitchablePlayer player;
  PlainSettings format;
  PlainUpdates updates;
  Composer composer{player, format};
  EventLog log;
  TrafficMonitor monitor{proxy, composer, updates, log};
};

TEST_F(TrafficMonitorTest, ServerFramesGoToTheClientUnchangedWhileNoticesAreRead) {
  // In turn: too short to inspect; another channel and high bytes set, still a buddy notice; no
  // name to log; a name length (0x20, the space) past the end; another SNAC; a failed login,
  // without TLV 1.
  for (const Bytes& frame :
       {Hex("2A 02 00 01 00 03 00 03 00"), Flap(Snac(0x7703, 0x550C, "\3bob"), 0, 5),
        Flap(Snac(3, 0x0C, "")), Flap(Snac(3, 0x0B, " eve")), Flap(Snac(3, 0x0B, "\5alice")),
        Flap(Snac(1, 0x13, "\5alice")), Flap(Snac(0x17, 3, TLV(8, "x")))}) {
    Bytes data = frame;
    proxy.sent.clear();
    monitor.IncomingAIM(7, data);
    EXPECT_EQ(proxy.sent, (std::vector<Sent>{{'C', 7, frame}})) << ToHex(frame);
  }
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Signoff bob", "1 x Update eve", "1 x Update alice"));
  EXPECT_EQ(monitor.ScreenName(), "<none>");
  monitor.ResetForStartUp();
  EXPECT_EQ(monitor.ScreenName(), "[ Not Logged On ]");
}

TEST_F(TrafficMonitorTest, ClientFramesAreCapturedAsSentAndRewritten) {
  player.snapshot = Playing("Band", kCafe);
  format.block = Bytes(40000, 'x');  // what the block token stands for
  const Bytes block = format.blockToken, latin1 = "text/aolrtf; charset=\"iso-8859-1\"";
  const Bytes none = TLV(2, "<none> %a!"), band = TLV(2, "<none> Band!"), keep = TLV(6, "%a");
  const Bytes fill(65535 - 18 - 31 - 4, 'x');  // the longest away text that fits with "Band"
  // The SNAC sent in place of the client's (empty: the client's own), and whether the frame is
  // captured as the 'P'rofile, as the 'A'way message or not at all.
  const std::tuple<Bytes, Bytes, char> cases[] = {
      // Every profile TLV is filled, even one reading "<none>"; other TLVs stay as they are.
      {SetInfo(none + keep + none), SetInfo(band + keep + band), 'P'},
      // A us-ascii profile that gains non-ASCII text declares utf-8; other charsets stay.
      {Profile("%s"), Profile(kCafe, kUtf8), 'P'},
      {Profile("%s", "t; charset=US-ASCII"), Profile(kCafe, "t; charset=utf-8"), 'P'},
      {Profile("%s", latin1), Profile(kCafe, latin1), 'P'},
      {Profile("caf\xC3\xA9"), "", 'P'},  // nothing filled
      // Too long for a TLV once filled; each TLV fits but not both in one frame.
      {Profile(block + block), "", 'P'},
      {SetInfo(TLV(2, block) + TLV(2, block)), "", 'P'},
      // Without a profile TLV: a fresh away SNAC from the away text; further TLVs dropped.
      {Away(kUtf8, "Out: %a") + TLV(5, "x"), MakeAwaySNAC(kAscii, "Out: Band"), 'A'},
      {Away("text/x-aolrtf; charset=us-ascii", "%s"), MakeAwaySNAC(kUtf8, kCafe), 'A'},
      {Away("text/aolrtf", "%a"), MakeAwaySNAC(kAscii, "Band"), 'A'},  // no charset
      {SetInfo(TLV(4, "%a")), MakeAwaySNAC(kAscii, "Band"), 'A'},      // no MIME type
      {Away(latin1, "caf\xE9 %a"), MakeAwaySNAC(kUtf8, "caf\xC3\xA9 Band"), 'A'},
      {Away(kUtf8, ""), MakeAwaySNAC(kAscii, ""), 'A'},  // back
      {Away(kUtf8, fill + "%a"), MakeAwaySNAC(kAscii, fill + "Band"), 'A'},
      {Away(kUtf8, fill + "x%a"), "", 'A'},  // one byte too many
      // Nothing to compose: only other TLVs, UTF-16 text, a character set it cannot take over.
      {SetInfo(TLV(5, "caps")), "", 'A'},
      {Away("text/aolrtf; charset=\"unicode-2-0\"", Hex("00 25 00 61")), "", 'A'},
      {Away("text/aolrtf; charset=\"koi8-r\"", "%a"), "", 'A'},
      // ".a " and ".b" typed into a message set and clear the away message instead.
      {Im(".a gone"), MakeAwaySNAC(kAscii, Html("gone")), ' '},
      {Im(".a " + kCafe + " >.b"), MakeAwaySNAC(kUtf8, Html(kCafe + " >.b")), ' '},  // ".a " first
      {Im(".b"), MakeAwaySNAC("", ""), ' '},
      {Snac(4, 6, "</HTML><HTML>>.a x</HTML>"), MakeAwaySNAC(kAscii, "<HTML>>x</HTML>"), ' '},
      {Im(".A gone"), "", ' '},
      {Snac(4, 6, "<b>.a no body</b> >.b"), "", ' '},
      {Snac(4, 6, "<HTML><b>.a no end"), "", ' '},
      {Snac(4, 6, "<HTML>>.a " + Bytes(65535 - 27, 'x') + "</HTML>"), "", ' '},  // too large
      {">.b", "", ' '},  // too short to inspect
  };
  for (int row = 0; const auto& [snac, out, kind] : cases) {
    SCOPED_TRACE(row++);
    const Bytes typed = Flap(snac);
    const Bytes away = monitor.CapturedAway();
    monitor.ResetForStartUp();
    EXPECT_EQ(ToHex(Outgoing(typed)), ToHex(out.empty() ? typed : At(typed, out)));
    EXPECT_EQ(monitor.CapturedProfile(), kind == 'P' ? typed : "");
    EXPECT_EQ(monitor.CapturedAway(), kind == 'A' ? typed : away);
    EXPECT_EQ(monitor.ProfileRewritten(), kind == 'P');
    EXPECT_EQ(monitor.AwayRewritten(), kind == 'A');
  }
  EXPECT_THAT(log.Lines(), ElementsAre("3 x Away [Fake]", "1 x Return [Fake]"));
}

TEST_F(TrafficMonitorTest, TicksUpdateProfileThenAwayAndRestoreEachOnceWhenTurnedOff) {
  EXPECT_THAT(Tick(1), ElementsAre());  // nothing captured yet
  format.block = "Now: %a\r\n%s";
  const Bytes profile = Flap(Profile("%a - %s"));
  const Bytes away = Flap(Away(kUtf8, "away: %s"));
  const auto filled = [&](BytesView text) { return At(profile, Profile(text)); };
  const auto composed = [&](BytesView text) { return At(away, MakeAwaySNAC(kAscii, text)); };
  Outgoing(profile, 3);
  Outgoing(away, 2);
  Outgoing(Flap(Im(".b")), 9);  // the fake away leaves the updates' slot alone
  EXPECT_THAT(Tick(2), ElementsAre(filled("Band - Tune"), composed("away: Tune")));
  player.snapshot = Playing("Other", "Song");
  EXPECT_THAT(Tick(2), ElementsAre(filled("Other - Song"), composed("away: Song")));

  updates.enabled = false;
  EXPECT_THAT(Tick(2), ElementsAre(profile, away));
  EXPECT_THAT(Tick(2), ElementsAre());
  updates.enabled = true;
  updates.profile = false;
  EXPECT_THAT(Tick(2), ElementsAre(composed("away: Song")));

  // Frames captured anew while restored are rewritten (not with away updates off), and then
  // they are what the restore sends.
  EXPECT_EQ(Outgoing(profile, 5), filled("Other - Song"));
  updates.away = false;
  EXPECT_EQ(Outgoing(away, 5), away);
  EXPECT_THAT(Tick(5), ElementsAre(profile, away));
  EXPECT_THAT(Tick(5), ElementsAre());
  updates.profile = updates.away = updates.block = true;  // the block stands in for the text
  EXPECT_THAT(Tick(5), ElementsAre(filled("Other - Song"), composed("Now: Other<BR>Song")));
  player.snapshot = {};  // without a player the client's own frames go out
  EXPECT_EQ(Outgoing(profile, 5), profile);
  EXPECT_THAT(Tick(5), ElementsAre(profile, away));
  EXPECT_THAT(log.Lines(),
              ElementsAre("1 x Return [Fake]", "6 x Updated Profile", "7 x Updated Away"));
}

}  // namespace
}  // namespace quorvel::testing
