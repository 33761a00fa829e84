#include "monitor/traffic_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "monitor_fakes.h"
#include "test_bytes.h"
#include "wire/away_snac.h"
#include "wire/replace.h"

namespace quorvel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace testing;  // quorvel::testing: fakes and byte helpers

const Bytes kAscii(kAwayMimeUsAscii), kUtf8(kAwayMimeUtf8);
const Bytes kCafe = "Caf\xC3\xA9";

class TrafficMonitorTest : public ::testing::Test {
 protected:
  TrafficMonitorTest() {
    monitor.SetTitleListener([this](const std::string& title) { titles.push_back(title); });
    format.block = "Now: %a\r\n%s";
  }

  static Bytes SetInfo(BytesView tlvs) { return Snac(2, 4, tlvs); }
  static Bytes Profile(BytesView text, BytesView mime = kAscii) {
    return SetInfo(MakeTLV(1, mime) + MakeTLV(2, text) + MakeTLV(5, "caps"));
  }
  static Bytes Away(BytesView mime, BytesView text, BytesView after = "") {
    return SetInfo(MakeTLV(3, mime) + MakeTLV(4, text) + Bytes(after));
  }
  static Bytes Html(BytesView typed) {
    return "<HTML><BODY><FONT LANG=\"0\">" + Bytes(typed) + "</FONT></BODY></HTML>";
  }
  // An instant message to bob whose HTML body holds `typed`, the way clients send it.
  static Bytes Im(BytesView typed) {
    return Snac(4, 6, Hex("01 02 03 04 05 06 07 08 00 01 03") + "bob" + MakeTLV(2, Html(typed)));
  }
  // What goes out in place of `typed`: its FLAP header (the relay stamps sequence number and
  // length when it sends), then `snac`.
  static Bytes InPlaceOf(BytesView typed, BytesView snac) {
    return Bytes(typed.substr(0, 6)) + Bytes(snac);
  }
  static Bytes Repeat(BytesView text, std::size_t n) {
    return ReplaceAll(Bytes(n, '#'), "#", text);
  }

  // Feeds one client frame; the frame that went to the server, exactly once, in its place.
  Bytes Outgoing(Bytes frame, SlotIndex index = 1) {
    proxy.sent.clear();
    monitor.OutgoingAIM(index, frame);
    EXPECT_EQ(proxy.sent, (std::vector<Sent>{{'S', index, frame}}));
    return frame;
  }

  // The frames one tick sends ("misdirected" for one not sent to the server on `index`).
  std::vector<Bytes> Tick(SlotIndex index) {
    proxy.sent.clear();
    monitor.CheckTimer();
    std::vector<Bytes> frames;
    for (const Sent& s : proxy.sent) {
      frames.push_back(s.to == 'S' && s.index == index ? s.data : "misdirected");
    }
    return frames;
  }

  RecordingProxy proxy;
  SwitchablePlayer player;
  PlainSettings format;
  PlainUpdates updates;
  Composer composer{player, format};
  EventLog log;
  TrafficMonitor monitor{proxy, composer, updates, log};
  std::vector<std::string> titles;
};

TEST_F(TrafficMonitorTest, ServerFramesGoToTheClientUnchangedWhileNoticesAreRead) {
  Bytes offline = Flap(Snac(0x7703, 0x550C, Hex("03") + "bob"));
  offline[1] = 5;  // another channel and high bytes set: still a buddy notice
  for (const Bytes& frame : {
           Hex("2A 02 00 01 00 03 00 03 00"),  // too short to inspect
           Flap(Snac(3, 0x0B, Hex("05") + "alice" + Hex("00 00 00 02"))), offline,
           Flap(Snac(3, 0x0C, "")),                 // no name to log
           Flap(Snac(3, 0x0B, Hex("20") + "eve")),  // name length past the end
           Flap(Snac(3, 0x0B, Hex("05") + "alice")), Flap(Snac(1, 0x13, Hex("05") + "alice")),
           Flap(Snac(0x17, 3, MakeTLV(1, "Alice Smith") + MakeTLV(5, "1.2.3.4:5190"))),
           Flap(Snac(0x17, 3, MakeTLV(8, Hex("00 05")))),  // a failed login: no TLV 1
       }) {
    Bytes data = frame;
    proxy.sent.clear();
    monitor.IncomingAIM(7, data);
    EXPECT_EQ(proxy.sent, (std::vector<Sent>{{'C', 7, frame}})) << ToHex(frame);
  }
  EXPECT_THAT(log.Lines(), ElementsAre("2 x Update alice", "1 x Signoff bob", "1 x Update eve"));
  EXPECT_THAT(titles, ElementsAre(" [ Alice Smith ] - Quorvel", " [ <none> ] - Quorvel"));
  EXPECT_EQ(monitor.ScreenName(), "<none>");
  monitor.ResetForStartUp();
  EXPECT_EQ(monitor.ScreenName(), "[ Not Logged On ]");

  // Raw chunks pass through in their own direction; socket events are logged.
  Bytes up = "GET /", down = "OK";
  proxy.sent.clear();
  monitor.OutgoingData(3, 80, up);
  monitor.IncomingData(4, 80, down);
  EXPECT_EQ(proxy.sent, (std::vector<Sent>{{'s', 3, "GET /"}, {'c', 4, "OK"}}));
  monitor.SocketEvent(2, "Remote Socket Closed");
  EXPECT_EQ(log.Line(3), "1 x Socket (2): Remote Socket Closed");
}

TEST_F(TrafficMonitorTest, ClientFramesAreCapturedAsSentAndRewritten) {
  player.snapshot = Playing("Band", kCafe);
  const Bytes latin1 = "text/aolrtf; charset=\"iso-8859-1\"";
  const Bytes none = MakeTLV(2, "<none> %a!"), band = MakeTLV(2, "<none> Band!");
  const Bytes keep = MakeTLV(6, "keep %a!");
  const Bytes fill(65535 - 18 - 31 - 4, 'x');  // the longest away text that fits with "Band"
  struct Case {
    Bytes snac;
    Bytes out;  // the SNAC sent in place of the client's, or empty for the client's own
    char kind;  // the frame is captured as the 'P'rofile, as the 'A'way message, or not at all
  };
  const Case cases[] = {
      // Every profile TLV is filled, even one reading "<none>"; other TLVs stay as they are.
      {SetInfo(none + keep + none), SetInfo(band + keep + band), 'P'},
      // A us-ascii profile that gains non-ASCII text declares utf-8; other charsets stay.
      {Profile("%s"), Profile(kCafe, kUtf8), 'P'},
      {Profile("%s", "text/aolrtf; charset=US-ASCII"), Profile(kCafe, "text/aolrtf; charset=utf-8"),
       'P'},
      {Profile("%s", latin1), Profile(kCafe, latin1), 'P'},
      // Too long for a TLV once filled; each TLV fits but not both in one frame.
      {Profile(Repeat("%a", 20000)), "", 'P'},
      {SetInfo(MakeTLV(2, Repeat("%a.", 10000)) + MakeTLV(2, Repeat("%a.", 10000))), "", 'P'},
      // Without a profile TLV: a fresh away SNAC from the away text; further TLVs dropped.
      {Away(kUtf8, "Out: %a", MakeTLV(5, "x")), MakeAwaySNAC(kAscii, "Out: Band"), 'A'},
      {Away("text/x-aolrtf; charset=us-ascii", "%s"), MakeAwaySNAC(kUtf8, kCafe), 'A'},
      {Away("text/aolrtf", "%a"), MakeAwaySNAC(kAscii, "Band"), 'A'},
      {SetInfo(MakeTLV(4, "%a")), MakeAwaySNAC(kAscii, "Band"), 'A'},
      {Away(latin1, "caf\xE9 %a"), MakeAwaySNAC(kUtf8, "caf\xC3\xA9 Band"), 'A'},
      {Away(kUtf8, ""), MakeAwaySNAC(kAscii, ""), 'A'},
      {SetInfo(MakeTLV(3, kUtf8) + Hex("00 04 00 40") + "%a"), MakeAwaySNAC(kAscii, "Band"), 'A'},
      {Away(kUtf8, fill + "%a"), MakeAwaySNAC(kAscii, fill + "Band"), 'A'},
      {Away(kUtf8, fill + "x%a"), "", 'A'},
      {SetInfo(MakeTLV(5, "caps")), "", 'A'},
      {SetInfo(""), "", 'A'},
      {Away("text/aolrtf; charset=\"unicode-2-0\"", Hex("00 25 00 61")), "", 'A'},
      {Away("text/aolrtf; charset=\"koi8-r\"", "%a"), "", 'A'},
      // ".a " and ".b" typed into a message set and clear the away message instead.
      {Im(".a gone"), MakeAwaySNAC(kAscii, Html("gone")), ' '},
      {Im(".a " + kCafe), MakeAwaySNAC(kUtf8, Html(kCafe)), ' '},
      {Im(".b"), MakeAwaySNAC("", ""), ' '},
      {Snac(4, 6, "</HTML><HTML><b>.a x</b></HTML>"), MakeAwaySNAC(kAscii, "<HTML><b>x</b></HTML>"),
       ' '},
      {Im(".A gone"), "", ' '},
      {Snac(4, 6, "<b>.a no body</b> >.b"), "", ' '},
      {Snac(4, 6, "<HTML><b>.a no end"), "", ' '},
      {Snac(4, 6, "<HTML>>.a " + Bytes(65535 - 27, 'x') + "</HTML>"), "", ' '},  // too large
      {">.b", "", ' '},  // too short to inspect
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("row " + std::to_string(&c - cases));
    const Bytes typed = Flap(c.snac);
    const Bytes away = monitor.CapturedAway();
    monitor.ResetForStartUp();
    EXPECT_EQ(ToHex(Outgoing(typed)), ToHex(c.out.empty() ? typed : InPlaceOf(typed, c.out)));
    EXPECT_EQ(monitor.CapturedProfile(), c.kind == 'P' ? typed : "");
    EXPECT_EQ(monitor.CapturedAway(), c.kind == 'A' ? typed : away);
    EXPECT_EQ(monitor.ProfileRewritten(), c.kind == 'P');
    EXPECT_EQ(monitor.AwayRewritten(), c.kind == 'A');
  }
  EXPECT_THAT(log.Lines(), ElementsAre("3 x Away [Fake]", "1 x Return [Fake]"));
}

TEST_F(TrafficMonitorTest, TicksUpdateProfileThenAwayAndRestoreEachOnceWhenTurnedOff) {
  EXPECT_THAT(Tick(1), IsEmpty());  // nothing captured yet
  const Bytes profile = Flap(Profile("<b>%a - %s</b>"));
  const Bytes away = Flap(Away(kUtf8, "away: %s", MakeTLV(6, "x")));
  const auto filled = [&](BytesView text) { return InPlaceOf(profile, Profile(text)); };
  const auto composed = [&](BytesView text) { return InPlaceOf(away, MakeAwaySNAC(kAscii, text)); };
  Outgoing(profile, 3);
  Outgoing(away, 2);
  Outgoing(Flap(Im(".b")), 9);  // the fake away leaves the updates' slot alone
  EXPECT_THAT(Tick(2), ElementsAre(filled("<b>Band - Tune</b>"), composed("away: Tune")));
  player.snapshot = Playing("Other", "Song");
  EXPECT_THAT(Tick(2), ElementsAre(filled("<b>Other - Song</b>"), composed("away: Song")));

  updates.enabled = false;
  EXPECT_THAT(Tick(2), ElementsAre(profile, away));
  EXPECT_FALSE(monitor.ProfileRewritten() || monitor.AwayRewritten());
  EXPECT_THAT(Tick(2), IsEmpty());
  updates.enabled = true;
  updates.profile = false;
  EXPECT_THAT(Tick(2), ElementsAre(composed("away: Song")));

  // Newer frames while restored are rewritten (or not, with away updates off), and then they
  // are what the restore sends.
  const Bytes newer = Flap(Profile("%s"));
  EXPECT_EQ(Outgoing(newer, 5), InPlaceOf(newer, Profile("Song")));
  updates.away = false;
  EXPECT_EQ(Outgoing(away, 5), away);
  EXPECT_THAT(Tick(5), ElementsAre(newer, away));
  EXPECT_THAT(Tick(5), IsEmpty());
  updates.profile = updates.away = updates.block = true;  // the block stands in for the text
  EXPECT_THAT(Tick(5),
              ElementsAre(InPlaceOf(newer, Profile("Song")), composed("Now: Other<BR>Song")));
  player.snapshot = {};  // without a player the client's own frames go out
  EXPECT_EQ(Outgoing(newer, 5), newer);
  EXPECT_THAT(Tick(5), ElementsAre(newer, away));
  EXPECT_TRUE(monitor.ProfileRewritten() && monitor.AwayRewritten());
  EXPECT_THAT(log.Lines(),
              ElementsAre("1 x Return [Fake]", "6 x Updated Profile", "7 x Updated Away"));
}

}  // namespace
}  // namespace quorvel
