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
 public:
  static Bytes SetInfo(BytesView tlvs) { return Snac(2, 4, tlvs); }
  static Bytes Profile(BytesView t, BytesView m = kAscii) { return SetInfo(TLV(1, m) + TLV(2, t)); }
  static Bytes Away(BytesView m, BytesView t) { return SetInfo(TLV(3, m) + TLV(4, t)); }
  static Bytes Html(BytesView t) { return "<HTML><BODY>" + Bytes(t) + "</BODY></HTML>"; }
  // An instant message whose HTML body holds `t`, the way clients send it.
  static Bytes Im(BytesView t) { return Snac(4, 6, "bob" + TLV(2, Html(t))); }
  // What goes out in place of `typed`: its FLAP header (the relay stamps sequence number and
  // length when it sends), then the SNAC `s`.
  static Bytes At(BytesView typed, BytesView s) { return Bytes(typed.substr(0, 6)) + Bytes(s); }

 protected:
  // Feeds one client frame; the frame that went to the server, exactly once, in its place.
  Bytes PassFromClient(Bytes frame, SlotIndex index = 1) {
    relay.sent.clear();
    monitor.FrameFromClient(index, frame);
    EXPECT_EQ(relay.sent, (std::vector<Sent>{{'S', index, frame}}));
    return frame;
  }

  // The frames one tick sends ("?" for one not sent to the server on slot `i`).
  std::vector<Bytes> Tick(SlotIndex i) {
    relay.sent.clear();
    monitor.RunTimedUpdates();
    std::vector<Bytes> frames;
    for (const auto& [to, slot, data] : relay.sent)
      frames.push_back(to == 'S' && slot == i ? data : "?");
    return frames;
  }

  RecordingRelay relay;
  SwitchablePlayer player;
  PlainSettings format;
  PlainUpdates updates;
  Composer composer{player, format};
  EventLog log;
  TrafficMonitor monitor{relay, composer, updates, log};
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
    relay.sent.clear();
    monitor.FrameFromServer(7, data);
    EXPECT_EQ(relay.sent, (std::vector<Sent>{{'C', 7, frame}})) << ToHex(frame);
  }
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Signoff bob", "1 x Update eve", "1 x Update alice"));
  EXPECT_EQ(monitor.ScreenName(), "<none>");
  monitor.ResetForStartUp();
  EXPECT_EQ(monitor.ScreenName(), "[ Not Logged On ]");
}

// One client frame: the SNAC sent in place of the client's (empty: the client's own), and what
// the monitor makes of it: captured as the 'P'rofile or the 'A'way message, a typed away 'a' or
// return 'b', or ' ' nothing at all.
struct ClientFrameCase {
  const char* name;
  Bytes snac;
  Bytes out;
  char kind;
};
void PrintTo(const ClientFrameCase& c, std::ostream* os) {
  *os << c.name;
}

const Bytes kLatin1 = "text/aolrtf; charset=\"iso-8859-1\"";
const Bytes kBlock = PlainSettings().blockToken;  // what stands for 40000 bytes
const Bytes kNone = TLV(2, "<none> %a!"), kBand = TLV(2, "<none> Band!"), kKeep = TLV(6, "%a");
const Bytes kFill(65535 - 18 - 31 - 4, 'x');  // the longest away text that fits with "Band"
using T = TrafficMonitorTest;

const ClientFrameCase kClientFrames[] = {
    {"EveryProfileTlvIsFilledEvenOneReadingNone", T::SetInfo(kNone + kKeep + kNone),
     T::SetInfo(kBand + kKeep + kBand), 'P'},
    {"AsciiProfileGainingOtherTextDeclaresUtf8", T::Profile("%s"), T::Profile(kCafe, kUtf8), 'P'},
    {"UnquotedUpperCaseAsciiDeclarationBecomesUtf8", T::Profile("%s", "t; charset=US-ASCII"),
     T::Profile(kCafe, "t; charset=utf-8"), 'P'},
    {"Latin1ProfileKeepsItsDeclaration", T::Profile("%s", kLatin1), T::Profile(kCafe, kLatin1),
     'P'},
    {"ProfileWithNothingToFillGoesAsSent", T::Profile("caf\xC3\xA9"), "", 'P'},
    {"ProfileTooLongForATlvGoesAsSent", T::Profile(kBlock + kBlock), "", 'P'},
    {"ProfilesTooLongForOneFrameGoAsSent", T::SetInfo(TLV(2, kBlock) + TLV(2, kBlock)), "", 'P'},
    {"AwayBecomesAFreshSnacWithoutFurtherTlvs", T::Away(kUtf8, "Out: %a") + TLV(5, "x"),
     MakeAwaySNAC(kAscii, "Out: Band"), 'A'},
    {"AsciiAwayGainingOtherTextDeclaresUtf8", T::Away("text/x-aolrtf; charset=us-ascii", "%s"),
     MakeAwaySNAC(kUtf8, kCafe), 'A'},
    {"AwayWithoutCharsetIsComposed", T::Away("text/aolrtf", "%a"), MakeAwaySNAC(kAscii, "Band"),
     'A'},
    {"AwayWithoutMimeTypeIsComposed", T::SetInfo(TLV(4, "%a")), MakeAwaySNAC(kAscii, "Band"), 'A'},
    {"Latin1AwayIsComposedAsUtf8", T::Away(kLatin1, "caf\xE9 %a"),
     MakeAwaySNAC(kUtf8, "caf\xC3\xA9 Band"), 'A'},
    {"EmptyAwayIsComposedEmpty", T::Away(kUtf8, ""), MakeAwaySNAC(kAscii, ""), 'A'},
    {"LongestAwayThatFitsOneFrameIsComposed", T::Away(kUtf8, kFill + "%a"),
     MakeAwaySNAC(kAscii, kFill + "Band"), 'A'},
    {"AwayOneByteTooLongGoesAsSent", T::Away(kUtf8, kFill + "x%a"), "", 'A'},
    {"SetInfoWithOnlyOtherTlvsGoesAsSent", T::SetInfo(TLV(5, "caps")), "", 'A'},
    {"Utf16AwayGoesAsSent", T::Away("text/aolrtf; charset=\"unicode-2-0\"", Hex("00 25 00 61")), "",
     'A'},
    {"AwayInAnotherCharsetGoesAsSent", T::Away("text/aolrtf; charset=\"koi8-r\"", "%a"), "", 'A'},
    {"TypedAwaySetsTheAwayMessage", T::Im(".a gone"), MakeAwaySNAC(kAscii, T::Html("gone")), 'a'},
    {"TypedAwayWinsOverAReturnBehindIt", T::Im(".a " + kCafe + " >.b"),
     MakeAwaySNAC(kUtf8, T::Html(kCafe + " >.b")), 'a'},
    {"TypedReturnClearsTheAwayMessage", T::Im(".b"), MakeAwaySNAC("", ""), 'b'},
    {"TypedAwayTakesTheBodyFromTheFirstHtmlTag", Snac(4, 6, "</HTML><HTML>>.a x</HTML>"),
     MakeAwaySNAC(kAscii, "<HTML>>x</HTML>"), 'a'},
    {"UpperCaseCommandIsNoCommand", T::Im(".A gone"), "", ' '},
    {"TypedAwayWithoutABodyGoesAsSent", Snac(4, 6, "<b>.a no body</b> >.b"), "", ' '},
    {"TypedAwayWithoutABodyEndGoesAsSent", Snac(4, 6, "<HTML><b>.a no end"), "", ' '},
    {"TypedAwayTooLargeForOneFrameGoesAsSent",
     Snac(4, 6, "<HTML>>.a " + Bytes(65535 - 27, 'x') + "</HTML>"), "", ' '},
    {"FrameTooShortToInspectGoesAsSent", ">.b", "", ' '},
};

class ClientFrameTest : public TrafficMonitorTest,
                        public ::testing::WithParamInterface<ClientFrameCase> {};

TEST_P(ClientFrameTest, IsCapturedAsSentAndRewritten) {
  const ClientFrameCase& c = GetParam();
  player.snapshot = Playing("Band", kCafe);
  format.block = Bytes(40000, 'x');
  // An away message captured before, which only an away frame replaces.
  PassFromClient(Flap(Away(kUtf8, "before")));
  const Bytes away = monitor.CapturedAway();
  monitor.ResetForStartUp();

  const Bytes typed = Flap(c.snac);
  EXPECT_EQ(ToHex(PassFromClient(typed)), ToHex(c.out.empty() ? typed : At(typed, c.out)));
  EXPECT_EQ(monitor.CapturedProfile(), c.kind == 'P' ? typed : "");
  EXPECT_EQ(monitor.CapturedAway(), c.kind == 'A' ? typed : away);
  EXPECT_EQ(monitor.ProfileRewritten(), c.kind == 'P');
  EXPECT_EQ(monitor.AwayRewritten(), c.kind == 'A');
  std::vector<std::string> logged;
  if (c.kind == 'a') logged = {"1 x Away [Fake]"};
  if (c.kind == 'b') logged = {"1 x Return [Fake]"};
  EXPECT_EQ(log.Lines(), logged);
}

INSTANTIATE_TEST_SUITE_P(TrafficMonitor, ClientFrameTest, ::testing::ValuesIn(kClientFrames),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(TrafficMonitorTest, TicksUpdateProfileThenAwayAndRestoreEachOnceWhenTurnedOff) {
  EXPECT_THAT(Tick(1), ElementsAre());  // nothing captured yet
  format.block = "Now: %a\r\n%s";
  const Bytes profile = Flap(Profile("%a - %s"));
  const Bytes away = Flap(Away(kUtf8, "away: %s"));
  const auto filled = [&](BytesView text) { return At(profile, Profile(text)); };
  const auto composed = [&](BytesView text) { return At(away, MakeAwaySNAC(kAscii, text)); };
  PassFromClient(profile, 3);
  PassFromClient(away, 2);
  PassFromClient(Flap(Im(".b")), 9);  // the fake away leaves the updates' slot alone
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
  EXPECT_EQ(PassFromClient(profile, 5), filled("Other - Song"));
  updates.away = false;
  EXPECT_EQ(PassFromClient(away, 5), away);
  EXPECT_THAT(Tick(5), ElementsAre(profile, away));
  EXPECT_THAT(Tick(5), ElementsAre());
  updates.profile = updates.away = updates.block = true;  // the block stands in for the text
  EXPECT_THAT(Tick(5), ElementsAre(filled("Other - Song"), composed("Now: Other<BR>Song")));
  player.snapshot = {};  // without a player the client's own frames go out
  EXPECT_EQ(PassFromClient(profile, 5), profile);
  EXPECT_THAT(Tick(5), ElementsAre(profile, away));
  EXPECT_THAT(log.Lines(),
              ElementsAre("1 x Return [Fake]", "6 x Updated Profile", "7 x Updated Away"));
}

}  // namespace
}  // namespace quorvel::testing
