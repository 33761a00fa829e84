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
  static Bytes Im(BytesView t) { return InstantMessage(Html(t)); }
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

  // The frames one tick sends, each to the server ("?" for anything else).
  std::vector<Bytes> Tick() {
    relay.sent.clear();
    monitor.RunTimedUpdates();
    std::vector<Bytes> frames;
    for (const auto& [to, slot, data] : relay.sent) frames.push_back(to == 'S' ? data : "?");
    return frames;
  }
  // The slots one tick sends to.
  std::vector<SlotIndex> TickSlots() {
    Tick();
    std::vector<SlotIndex> slots;
    for (const auto& [to, slot, data] : relay.sent) slots.push_back(slot);
    return slots;
  }

  const TrafficMonitor::ConnectionCaptures* Captures(ConnectionId connection = 1) const {
    return monitor.CapturesOf(connection);
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
  std::vector<std::string> titles;
  monitor.SetTitleListener([&](const std::string& title) { titles.push_back(title); });
  // In turn: too short to inspect; another channel and high bytes set, still a buddy notice; no
  // name to log; a name length (0x20, the space) past the end; another SNAC; a failed login,
  // without TLV 1; a login whose name would set the terminal's title.
  for (const Bytes& frame :
       {Hex("2A 02 00 01 00 03 00 03 00"), Flap(Snac(0x7703, 0x550C, "\3bob"), 0, 5),
        Flap(Snac(3, 0x0C, "")), Flap(Snac(3, 0x0B, " eve")), Flap(Snac(3, 0x0B, "\5alice")),
        Flap(Snac(1, 0x13, "\5alice")), Flap(Snac(0x17, 3, TLV(8, "x"))),
        Flap(Snac(0x17, 3, TLV(1, "me\x1B]0;x\x07")))}) {
    Bytes data = frame;
    relay.sent.clear();
    monitor.FrameFromServer(7, data);
    EXPECT_EQ(relay.sent, (std::vector<Sent>{{'C', 7, frame}})) << ToHex(frame);
  }
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Signoff bob", "1 x Update eve", "1 x Update alice"));
  EXPECT_THAT(titles, ElementsAre(" [ <none> ] - Quorvel", " [ me\\x1B]0;x\\x07 ] - Quorvel"));
  EXPECT_EQ(monitor.ScreenName(), "me\x1B]0;x\x07");
  monitor.ResetForStartUp();
  EXPECT_EQ(monitor.ScreenName(), "[ Not Logged On ]");
}

// One client frame: the SNAC sent in place of the client's (empty: the client's own), and what
// the monitor makes of it: captured as the 'P'rofile or the 'A'way message, a typed away 'a' or
// return 'b', the client's own return 'R', or ' ' nothing at all.
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
const Bytes kUcs2Away = Hex("00 2E 00 61 00 20 00 43 00 E9 00 20 D8 3D DE 00 00 25 00 61");
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
    {"FirstOfSeveralAwayTextsIsComposed", T::SetInfo(TLV(4, "%a") + TLV(4, "two")),
     MakeAwaySNAC(kAscii, "Band"), 'A'},
    {"LongestAwayThatFitsOneFrameIsComposed", T::Away(kUtf8, kFill + "%a"),
     MakeAwaySNAC(kAscii, kFill + "Band"), 'A'},
    {"AwayOneByteTooLongGoesAsSent", T::Away(kUtf8, kFill + "x%a"), "", 'A'},
    {"Utf16AwayGoesAsSent", T::Away("text/aolrtf; charset=\"unicode-2-0\"", Hex("00 25 00 61")), "",
     'A'},
    {"AwayInAnotherCharsetGoesAsSent", T::Away("text/aolrtf; charset=\"koi8-r\"", "%a"), "", 'A'},
    {"ClientsOwnReturnGoesAsSent", T::Away(kUtf8, ""), "", 'R'},
    {"ReturnAheadOfAnotherAwayTextIsAReturn", T::SetInfo(TLV(4, "") + TLV(4, "%a")), "", 'R'},
    {"SetInfoWithOnlyOtherTlvsGoesAsSent", T::SetInfo(TLV(5, "caps")), "", ' '},
    {"TypedAwaySetsTheAwayMessage", T::Im(".a gone"), MakeAwaySNAC(kAscii, T::Html("gone")), 'a'},
    {"TypedAwayIsFilled", T::Im(".a listening to %s"),
     MakeAwaySNAC(kUtf8, T::Html("listening to " + kCafe)), 'a'},
    {"TypedAwayWithoutHtml", InstantMessage(".a gone >.b"), MakeAwaySNAC(kAscii, "gone >.b"), 'a'},
    {"TypedAwayAfterTagsAndAcrossThem", T::Im("<FONT><B>.a</B> <I>gone</I></FONT>"),
     MakeAwaySNAC(kAscii, T::Html("<FONT><B></B><I>gone</I></FONT>")), 'a'},
    {"TypedAwayInUcs2IsReadAsUtf8", InstantMessage(kUcs2Away, "bob", 2),
     MakeAwaySNAC(kUtf8,
                  "C\xC3\xA9 \xF0\x9F\x98\x80"
                  "Band"),
     'a'},
    {"TypedAwayInLatin1IsReadAsUtf8", InstantMessage(".a caf\xE9", "bob", 3),
     MakeAwaySNAC(kUtf8, "caf\xC3\xA9"), 'a'},
    {"TypedReturnClearsTheAwayMessage", T::Im(".b"), MakeAwaySNAC("", ""), 'b'},
    {"TypedReturnWithBlanksAndABreakAfterIt", T::Im(".b <BR>"), MakeAwaySNAC("", ""), 'b'},
    {"ReturnFollowedByTextIsAMessage", T::Im(".b back soon"), "", ' '},
    {"WordStartingWithTheReturnIsAMessage", T::Im(".bashrc"), "", ' '},
    {"AwayWithNothingToShowIsAMessage", T::Im(".a <B> </B>"), "", ' '},
    {"AwayWithoutItsBlankIsAMessage", T::Im(".a"), "", ' '},
    {"UpperCaseCommandIsAMessage", T::Im(".A gone"), "", ' '},
    {"AwayOnALaterLineIsAMessage", T::Im("hi<BR>.a gone"), "", ' '},
    {"AwayAfterALineBreakIsAMessage", InstantMessage("hi\n.a gone"), "", ' '},
    {"AwayInsideALinkIsAMessage", T::Im("<A HREF=\"http://x/.a b\">link</A>"), "", ' '},
    {"MessageInAnotherCharsetIsAMessage", InstantMessage(".b", "bob", 0x20), "", ' '},
    {"CommandOnAnotherMessageChannelGoesAsSent",
     Snac(4, 6, Bytes(8, 1) + Bytes{0, 2} + "\3bob" + TLV(2, Bytes{1, 1, 0, 6, 0, 0, 0, 0} + ".b")),
     "", ' '},
    {"OtherFrameHoldingCommandsGoesAsSent", Snac(0x10, 2, "<HTML>>.a x</HTML>>.b"), "", ' '},
    {"TypedAwayTooLargeForOneFrameGoesAsSent", InstantMessage(".a " + Bytes(65487, 'x'), ""), "",
     ' '},
    {"FrameTooShortToInspectGoesAsSent", ">.b", "", ' '},
};

class ClientFrameTest : public TrafficMonitorTest,
                        public ::testing::WithParamInterface<ClientFrameCase> {};

TEST_P(ClientFrameTest, IsCapturedAsSentAndRewritten) {
  const ClientFrameCase& c = GetParam();
  player.snapshot = Playing("Band", kCafe);
  format.block = Bytes(40000, 'x');
  // An away message captured before, which only an away frame replaces or a return ends.
  const Bytes before = Flap(Away(kUtf8, "before"));
  PassFromClient(before);

  const Bytes typed = Flap(c.snac);
  EXPECT_EQ(ToHex(PassFromClient(typed)), ToHex(c.out.empty() ? typed : At(typed, c.out)));
  const auto* captures = Captures();
  ASSERT_EQ(captures == nullptr, c.kind == 'b' || c.kind == 'R');
  if (captures != nullptr) {
    EXPECT_EQ(captures->profile ? captures->profile->frame : "", c.kind == 'P' ? typed : "");
    ASSERT_TRUE(captures->away.has_value());
    // A typed away is kept as the away message it stands for, tokens unfilled.
    if (c.kind == 'a') {
      EXPECT_EQ(captures->away->frame.substr(6, 4), Hex("00 02 00 04"));
    } else {
      EXPECT_EQ(captures->away->frame, c.kind == 'A' ? typed : before);
    }
  }
  std::vector<std::string> logged;
  if (c.kind == 'a') logged = {"1 x Away [Fake]"};
  if (c.kind == 'b') logged = {"1 x Return [Fake]"};
  EXPECT_EQ(log.Lines(), logged);
}

INSTANTIATE_TEST_SUITE_P(TrafficMonitor, ClientFrameTest, ::testing::ValuesIn(kClientFrames),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(TrafficMonitorTest, FilledProfileIsSentWhileItsFrameFitsAndAsTheClientWroteItBeyond) {
  // SNAC header, TLV 1, the header of TLV 2: 49 bytes; "%a" grows by two into "Band".
  const Bytes fits = Flap(Profile(Bytes(65535 - 49 - 4, 'x') + "%a"));
  const Bytes over = Flap(Profile(Bytes(65535 - 49 - 3, 'x') + "%a"));
  const Bytes filled = PassFromClient(fits);
  EXPECT_EQ(filled.size(), 6u + 65535u);
  EXPECT_EQ(filled.substr(filled.size() - 6), "xxBand");
  EXPECT_EQ(PassFromClient(over), over);
  updates.onChange = false;
  EXPECT_THAT(Tick(), ElementsAre(over));
}

TEST_F(TrafficMonitorTest, EachConnectionIsUpdatedWithItsOwnCapturesWhileItLasts) {
  updates.onChange = false;
  const Bytes first = Flap(Profile("one %a")), second = Flap(Profile("two %a"));
  const Bytes away = Flap(Away(kAscii, "gone %s"));
  PassFromClient(first, 1);
  PassFromClient(second, 2);
  PassFromClient(away, 2);
  PassFromClient(Flap(Im(".b")), 3);  // a return from a connection with nothing captured
  relay.sent.clear();
  monitor.RunTimedUpdates();
  EXPECT_EQ(relay.sent, (std::vector<Sent>{{'S', 1, At(first, Profile("one Band"))},
                                           {'S', 2, At(second, Profile("two Band"))},
                                           {'S', 2, At(away, MakeAwaySNAC(kAscii, "gone Tune"))}}));

  // Another connection takes slot 1: the first one's captures end, and the newcomer, which set
  // nothing, is sent nothing. Slot 2 closes: nothing is left to update.
  relay.connections[1] = 101;
  EXPECT_THAT(TickSlots(), ElementsAre(2, 2));
  EXPECT_EQ(Captures(1), nullptr);
  relay.connections[2] = 0;
  EXPECT_THAT(TickSlots(), ElementsAre());
  EXPECT_EQ(monitor.CapturingConnections(), 0u);

  // The newcomer's own profile is its own; a connection that closes before the relay hands its
  // frame over has it forwarded and captured nowhere.
  PassFromClient(second, 1);
  relay.connections[4] = 0;
  PassFromClient(first, 4);
  EXPECT_THAT(Tick(), ElementsAre(At(second, Profile("two Band"))));
  EXPECT_NE(Captures(101), nullptr);
  EXPECT_EQ(monitor.CapturingConnections(), 1u);
}

TEST_F(TrafficMonitorTest, TicksSendOnlyWhatChangedAndRestoreTheTextWithoutTokensOnce) {
  EXPECT_THAT(Tick(), ElementsAre());  // nothing captured yet
  format.block = "Now: %a\r\n%s";
  const Bytes profile = Flap(Profile("%a - %s<BR>bye"));
  const Bytes away = Flap(Away(kUtf8, "away: %s"));
  const auto filled = [&](BytesView text) { return At(profile, Profile(text)); };
  const auto composed = [&](BytesView text) { return At(away, MakeAwaySNAC(kAscii, text)); };
  PassFromClient(profile);
  PassFromClient(away);
  EXPECT_THAT(Tick(), ElementsAre());  // what the server holds is current
  player.snapshot = Playing("Other", "Tune");
  EXPECT_THAT(Tick(), ElementsAre(filled("Other - Tune<BR>bye")));
  player.snapshot = Playing("Other", "Song");
  EXPECT_THAT(Tick(), ElementsAre(filled("Other - Song<BR>bye"), composed("away: Song")));
  updates.onChange = false;
  EXPECT_THAT(Tick(), ElementsAre(filled("Other - Song<BR>bye"), composed("away: Song")));

  // Turned off: the client's own texts once, without their tokens, and then nothing.
  updates.enabled = false;
  EXPECT_THAT(Tick(), ElementsAre(filled("bye"), composed("away: ")));
  EXPECT_THAT(Tick(), ElementsAre());
  updates.enabled = true;
  updates.profile = false;
  updates.onChange = true;
  EXPECT_THAT(Tick(), ElementsAre(composed("away: Song")));
  // A frame captured while its update is off goes out without tokens, and that is what the
  // restore would send again: nothing is.
  updates.away = false;
  EXPECT_EQ(PassFromClient(away), composed("away: "));
  EXPECT_THAT(Tick(), ElementsAre());
  updates.profile = updates.away = updates.block = true;  // the block stands in for the text
  EXPECT_THAT(Tick(), ElementsAre(filled("Other - Song<BR>bye"), composed("Now: Other<BR>Song")));
  EXPECT_THAT(log.Lines(), ElementsAre("5 x Updated Profile", "5 x Updated Away"));
}

TEST_F(TrafficMonitorTest, ComingBackEndsTheAwayUpdatesUntilAnAwayIsSetAgain) {
  updates.onChange = false;  // a capture still in force would send at every tick
  const Bytes away = Flap(Away(kUtf8, "away: %s")), back = Flap(Away(kUtf8, ""));
  for (const bool block : {false, true}) {
    updates.block = block;
    PassFromClient(away);
    EXPECT_EQ(Tick().size(), 1u);
    EXPECT_EQ(PassFromClient(Flap(Im(".b"))), At(Flap(Im(".b")), MakeAwaySNAC("", "")));
    EXPECT_THAT(Tick(), ElementsAre());
    // Typed away, then the client's own return, which goes as sent.
    const Bytes typed = Flap(Im(".a listening to %s"));
    EXPECT_EQ(PassFromClient(typed),
              At(typed, MakeAwaySNAC(kAscii, block ? "line one<BR>line two<BR>"
                                                   : Html("listening to Tune"))));
    player.snapshot = Playing("Band", "Next");
    EXPECT_THAT(Tick(),
                ElementsAre(At(typed, MakeAwaySNAC(kAscii, block ? "line one<BR>line two<BR>"
                                                                 : Html("listening to Next")))));
    EXPECT_EQ(PassFromClient(back), back);
    EXPECT_THAT(Tick(), ElementsAre());
    EXPECT_EQ(Captures(), nullptr);
  }
  EXPECT_THAT(log.Lines(), ElementsAre("4 x Updated Away", "2 x Return [Fake]", "2 x Away [Fake]"));
}

TEST_F(TrafficMonitorTest, WithoutATrackNoTokenReachesTheServer) {
  format.block = ":: %a - %s ::\r\nplaying";
  const Bytes profile = Flap(Profile("<B>%a - %s</B><BR>Hello<br/>%p %t/%x<BR>"));
  const Bytes away = Flap(Away(kUtf8, "Out<BR>What You Want Replaced"));
  const Bytes noTrack = At(profile, Profile("<B></B>Hello<br/>"));
  const Bytes noTrackAway = At(away, MakeAwaySNAC(kAscii, "Out<BR>playing"));
  player.snapshot = {};  // no player
  EXPECT_EQ(PassFromClient(profile), noTrack);
  EXPECT_EQ(PassFromClient(away), noTrackAway);
  player.snapshot = Playing("", "");  // nothing loaded
  EXPECT_THAT(Tick(), ElementsAre());
  player.snapshot = Playing("Band", "Tune");
  EXPECT_EQ(Tick().size(), 2u);
  player.snapshot.found = false;  // the player vanished between two ticks
  EXPECT_THAT(Tick(), ElementsAre(noTrack, noTrackAway));
  // Restored while the player plays: still without tokens.
  player.snapshot = Playing("Band", "Tune");
  EXPECT_EQ(Tick().size(), 2u);
  updates.enabled = false;
  EXPECT_THAT(Tick(), ElementsAre(noTrack, noTrackAway));
  // A text with no token goes as the client wrote it.
  player.snapshot = {};
  const Bytes plain = Flap(Away(kUtf8, "plain") + TLV(5, "caps"));
  EXPECT_EQ(PassFromClient(plain), plain);
}

}  // namespace
}  // namespace quorvel::testing
