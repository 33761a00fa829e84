// The traffic monitor between client and server, the instant messages it reads, and the event
// log it writes.
#include "monitor/traffic_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "monitor/event_log.h"
#include "monitor/instant_message.h"
#include "monitor_fakes.h"
#include "test_bytes.h"
#include "wire/away_snac.h"

namespace quorvel::testing {
namespace {

using ::testing::ElementsAre;

const Bytes kAscii(kAwayMimeUsAscii), kUtf8(kAwayMimeUtf8), kCafe = "Caf\xC3\xA9";

const auto SetInfo = [](BytesView tlvs) { return Snac(2, 4, tlvs); };
const auto Profile = [](BytesView t, BytesView m = kAscii) {
  return SetInfo(MakeTLV(1, m) + MakeTLV(2, t));
};
const auto Away = [](BytesView m, BytesView t) { return SetInfo(MakeTLV(3, m) + MakeTLV(4, t)); };
const auto Html = [](BytesView t) { return "<HTML><BODY>" + Bytes(t) + "</BODY></HTML>"; };
const auto Im = [](BytesView t) { return InstantMessage(Html(t)); };  // as clients send it
// What goes out in place of `typed`: its FLAP header (the relay stamps sequence number and length
// when it sends), then the SNAC `s`.
const auto At = [](BytesView typed, BytesView s) { return Bytes(typed.substr(0, 6)) + Bytes(s); };

// A monitor over fakes: a relay that records what it is handed, a player playing "Band - Tune".
struct Rig {
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

  RecordingRelay relay;
  SwitchablePlayer player;
  PlainSettings format;
  PlainUpdates updates;
  Composer composer{player, format};
  EventLog log;
  TrafficMonitor monitor{relay, composer, updates, log};
};

class TrafficMonitorTest : public ::testing::Test, public Rig {};

TEST_F(TrafficMonitorTest, ServerFramesGoToTheClientUnchangedWhileNoticesAreRead) {
  std::vector<std::string> titles;
  monitor.SetTitleListener([&](const std::string& title) { titles.push_back(title); });
  // Too short to inspect; another channel and high bytes set, still a buddy notice; a name length
  // (0x20) past the end; another SNAC; a failed login; a login whose name would set the title.
  for (const Bytes& frame :
       {Hex("2A 02 00 01 00 03 00 03 00"), Flap(Snac(0x7703, 0x550C, "\3bob"), 0, 5),
        Flap(Snac(3, 0x0B, " eve")), Flap(Snac(3, 0x0B, "\5alice")), Flap(Snac(1, 0x13, "\5alice")),
        Flap(Snac(0x17, 3, MakeTLV(8, "x"))), Flap(Snac(0x17, 3, MakeTLV(1, "me\x1B]0;x\x07")))}) {
    Bytes data = frame;
    relay.sent.clear();
    monitor.FrameFromServer(7, data);
    EXPECT_EQ(relay.sent, (std::vector<Sent>{{'C', 7, frame}})) << ToHex(frame);
  }
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Signoff bob", "1 x Update eve", "1 x Update alice"));
  EXPECT_THAT(titles, ElementsAre(" [ <none> ] - Quorvel", " [ me\\x1B]0;x\\x07 ] - Quorvel"));
}

TEST_F(TrafficMonitorTest, AsksTheRelayForTheFramesItReadsAndLeavesItTheRest) {
  const FrameInterest client = monitor.FramesWantedFromClient();
  for (const Bytes& frame : {Flap(Profile("p")), Flap(Away(kAscii, "a")), Flap(Im(".b"))}) {
    EXPECT_TRUE(client.Wants(frame)) << ToHex(frame);
  }
  const FrameInterest server = monitor.FramesWantedFromServer();
  for (const Bytes& frame : {Flap(Snac(3, 0x0B, "\5alice")), Flap(Snac(3, 0x0C, "\3bob")),
                             Flap(Snac(0x17, 3, MakeTLV(1, "me")))}) {
    EXPECT_TRUE(server.Wants(frame)) << ToHex(frame);
    EXPECT_FALSE(client.Wants(frame)) << ToHex(frame);
  }
  for (const Bytes& frame :
       {Flap(Snac(1, 0x13, "")), Flap(Snac(4, 7, "")), Hex("2A 02 00 01 00 00")}) {
    EXPECT_FALSE(client.Wants(frame) || server.Wants(frame)) << ToHex(frame);
  }
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

const Bytes kLatin1 = "text/aolrtf; charset=\"iso-8859-1\"";
const Bytes kBlock = PlainSettings().blockToken;  // what stands for 40000 bytes
const Bytes kTokens = MakeTLV(2, "<%a>"), kBand = MakeTLV(2, "<Band>"), kKeep = MakeTLV(6, "%a");
const Bytes kFill(65535 - 18 - 31 - 4, 'x');  // the longest away text that fits with "Band"
const Bytes kUcs2Away = Hex("00 2E 00 61 00 20 00 43 00 E9 00 20 D8 3D DE 00 00 25 00 61");
const Bytes kUtf8Away = "C\xC3\xA9 \xF0\x9F\x98\x80" + Bytes("Band");
// SNAC header, TLV 1, the header of TLV 2: 49 bytes; "%a" grows by two into "Band".
const Bytes kFillProfile(65535 - 49 - 4, 'x');

const ClientFrameCase kClientFrames[] = {
    {"EveryProfileTlv", SetInfo(kTokens + kKeep + kTokens), SetInfo(kBand + kKeep + kBand), 'P'},
    {"AsciiProfileMadeUtf8", Profile("%s"), Profile(kCafe, kUtf8), 'P'},
    {"LongestProfile", Profile(kFillProfile + "%a"), Profile(kFillProfile + "Band"), 'P'},
    {"ProfileOneByteTooLong", Profile("x" + kFillProfile + "%a"), "", 'P'},
    {"ProfileTooLongForATlv", Profile(kBlock + kBlock), "", 'P'},
    {"FreshAwaySnac", Away(kUtf8, "O %a") + MakeTLV(5, "x"), MakeAwaySNAC(kAscii, "O Band"), 'A'},
    {"AwayWithoutType", SetInfo(MakeTLV(4, "%s")), MakeAwaySNAC(kUtf8, kCafe), 'A'},
    {"Latin1AwayAsUtf8", Away(kLatin1, "caf\xE9 %a"), MakeAwaySNAC(kUtf8, "caf\xC3\xA9 Band"), 'A'},
    {"LongestAway", Away(kUtf8, kFill + "%a"), MakeAwaySNAC(kAscii, kFill + "Band"), 'A'},
    {"AwayOneByteTooLong", Away(kUtf8, kFill + "x%a"), "", 'A'},
    {"Utf16Away", Away("text/aolrtf; charset=\"unicode-2-0\"", Hex("00 25 00 61")), "", 'A'},
    {"ClientsOwnReturn", SetInfo(MakeTLV(4, "") + MakeTLV(4, "%a")), "", 'R'},
    {"TypedAway", Im(".a to %s"), MakeAwaySNAC(kUtf8, Html("to " + kCafe)), 'a'},
    {"AwayAcrossTags", Im("<B>.a</B> <I>x"), MakeAwaySNAC(kAscii, Html("<B></B><I>x")), 'a'},
    {"TypedAwayInUcs2", InstantMessage(kUcs2Away, "bob", 2), MakeAwaySNAC(kUtf8, kUtf8Away), 'a'},
    {"TypedReturn", Im(".b <BR>"), MakeAwaySNAC("", ""), 'b'},
    {"WordStartingWithReturn", Im(".bashrc"), "", ' '},
    {"AwayOfNothing", Im(".a <B> </B>"), "", ' '},
    {"AwayOnALaterLine", Im("hi<BR>.a gone"), "", ' '},
    {"AwayInALink", Im("<A HREF=\"http://x/.a b\">link</A>"), "", ' '},
    {"OtherCharset", InstantMessage(".b", "bob", 0x20), "", ' '},
    {"OtherMessageChannel", Bytes(Im(".b")).replace(19, 1, "\2"), "", ' '},
    {"OtherFrame", Snac(0x10, 2, "<HTML>>.a x</HTML>>.b"), "", ' '},
    {"TypedAwayTooLarge", InstantMessage(".a " + Bytes(65487, 'x'), ""), "", ' '},
    {"FrameTooShort", ">.b", "", ' '},
};

TEST(TrafficMonitor, ClientFramesAreCapturedAsSentAndRewritten) {
  for (const ClientFrameCase& c : kClientFrames) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.player.snapshot = Playing("Band", kCafe);
    rig.format.block = Bytes(40000, 'x');
    rig.PassFromClient(Flap(Away(kUtf8, "before")));  // which only a return ends
    const Bytes typed = Flap(c.snac);
    EXPECT_EQ(ToHex(rig.PassFromClient(typed)), ToHex(c.out.empty() ? typed : At(typed, c.out)));
    const std::string logged = c.kind == 'a' ? "1 x Away [Fake]" : "1 x Return [Fake]";
    EXPECT_EQ(rig.log.Lines(), std::vector<std::string>(c.kind == 'a' || c.kind == 'b', logged));
    const auto* captures = rig.monitor.CapturesOf(1);
    ASSERT_EQ(captures == nullptr, c.kind == 'b' || c.kind == 'R');
    if (captures == nullptr) continue;
    EXPECT_EQ(captures->profile.has_value(), c.kind == 'P');
    // The away message captured before stays unless this frame sets another.
    EXPECT_TRUE(captures->away && (c.kind == 'a' || captures->away->frame.ends_with(
                                                        c.kind == 'A' ? typed : "before")));
  }
}

TEST_F(TrafficMonitorTest, EachConnectionIsUpdatedWithItsOwnCapturesWhileItLasts) {
  updates.onChange = false;
  // A typed away is kept as typed, so each tick fills it with the track now playing.
  const Bytes first = Flap(Profile("one %a")), second = Flap(Im(".a two %a"));
  PassFromClient(first, 1);
  PassFromClient(second, 2);
  PassFromClient(Flap(Im(".b")), 3);  // a return from a connection with nothing captured
  player.snapshot = Playing("Next", "Tune");
  const Sent toFirst{'S', 1, At(first, Profile("one Next"))},
      toSecond{'S', 2, At(second, MakeAwaySNAC(kAscii, Html("two Next")))};
  Tick();
  EXPECT_EQ(relay.sent, (std::vector<Sent>{toFirst, toSecond}));
  // Another connection takes slot 1: the first one's captures end, and the newcomer, which set
  // nothing, is sent nothing. Slot 2 closes: nothing is left to update.
  relay.connections[1] = 101;
  Tick();
  EXPECT_EQ(relay.sent, std::vector<Sent>{toSecond});
  relay.connections[2] = 0;
  EXPECT_THAT(Tick(), ElementsAre());
  EXPECT_EQ(monitor.CapturingConnections(), 0u);
}

TEST_F(TrafficMonitorTest, TicksSendOnlyWhatChangedAndNeverATokenWithoutATrack) {
  format.block = "Now: %a\r\n%s";
  const Bytes profile = Flap(Profile("%a - %s<BR>bye")), away = Flap(Away(kUtf8, "away: %s"));
  const auto filled = [&](BytesView text) { return At(profile, Profile(text)); };
  const auto composed = [&](BytesView text) { return At(away, MakeAwaySNAC(kAscii, text)); };
  player.snapshot = {};  // no player yet: the texts go without their tokens
  EXPECT_EQ(PassFromClient(profile), filled("bye"));
  EXPECT_EQ(PassFromClient(away), composed("away: "));
  EXPECT_THAT(Tick(), ElementsAre());  // what the server holds is current
  player.snapshot = Playing("Band", "Tune");
  EXPECT_THAT(Tick(), ElementsAre(filled("Band - Tune<BR>bye"), composed("away: Tune")));
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
  updates.enabled = updates.onChange = true;
  updates.profile = false;
  EXPECT_THAT(Tick(), ElementsAre(composed("away: Song")));
  // A frame captured while its update is off goes out without tokens, and that is what the
  // restore would send again: nothing is.
  updates.away = false;
  EXPECT_EQ(PassFromClient(away), composed("away: "));
  EXPECT_THAT(Tick(), ElementsAre());
  updates.profile = updates.away = updates.block = true;  // the block stands in for the text
  EXPECT_THAT(Tick(), ElementsAre(filled("Other - Song<BR>bye"), composed("Now: Other<BR>Song")));
  player.snapshot.found = false;  // the player vanished between two ticks
  EXPECT_THAT(Tick(), ElementsAre(filled("bye"), composed("Now: ")));
  EXPECT_THAT(log.Lines(), ElementsAre("7 x Updated Profile", "7 x Updated Away"));
}

TEST(InstantMessageText, ReadsTheFirstTextFragmentOfAWholeMessage) {
  // To "bob", with SNAC flags 0x8000 announcing extra data ahead of the cookie, and two texts.
  const Bytes texts = Bytes{1, 1, 0, 6, 0, 0, 0, 0} + "hi" + Bytes{1, 1, 0, 5, 0, 0, 0, 0} + "2";
  Bytes flagged = Flap(
      Snac(4, 6, Hex("00 02 AB CD 07 07 07 07 07 07 07 07 00 01 03") + "bob" + MakeTLV(2, texts)));
  flagged[10] = '\x80';
  EXPECT_EQ(InstantMessageText(flagged), "hi");
  flagged[16] = '\x7F';  // extra data past the end
  EXPECT_EQ(InstantMessageText(flagged), std::nullopt);
  EXPECT_EQ(InstantMessageText(Flap(InstantMessage(Hex("D8 3D 00 41"), "bob", 2))), "\uFFFDA");
  EXPECT_EQ(InstantMessageText(Flap(InstantMessage(Hex("00 41 00"), "bob", 2))), std::nullopt);
  EXPECT_EQ(InstantMessageText(Flap(InstantMessage("caf\xE9", "bob", 3))), "caf\xC3\xA9");
}

TEST(EventLog, FoldsRepeatsUpToTenThousandPerLineUntilFullAndEscapesControls) {
  EventLog log;
  for (const char* e : {"A", "B", "A", "bob", "", ""}) log.ListAdd(e);
  for (int i = 0; i < 20000; ++i) log.ListAdd("C");
  EXPECT_THAT(log.Lines(),
              ElementsAre("2 x A", "1 x B", "1 x bob", "2 x ", "10000 x C", "10000 x C "));
  // A full list says so on its last line, and still counts the texts it holds.
  for (int i = 0; i < EventLog::kMaxLines; ++i) log.ListAdd("event " + std::to_string(i));
  EXPECT_EQ(log.Line(EventLog::kMaxLines - 2), "1 x event 32759");
  EXPECT_EQ(log.Line(EventLog::kMaxLines - 1), "7 x " + std::string(EventLog::kFullText));
  for (int i = 0; i < 20000; ++i) log.ListAdd("more");  // saturates, never recurses
  EXPECT_EQ(log.Line(EventLog::kMaxLines - 1), "10000 x " + std::string(EventLog::kFullText));
  // Escape sequences, a forged line, the C1 controls, the Unicode line separator, a byte that is
  // no UTF-8 show as escapes; letters beyond ASCII stay.
  log.Clear();
  log.ListAdd("Update \x1B]0;t\x07\r\n1 x FAKE\x7F\xC2\x9B\xC2\x85 \xE2\x80\xA8 \xE9t\xC3\xA9");
  EXPECT_EQ(log.Line(0),
            "1 x Update \\x1B]0;t\\x07\\x0D\\x0A1 x FAKE\\x7F\\xC2\\x9B\\xC2\\x85 "
            "\\xE2\\x80\\xA8 \\xE9t\xC3\xA9");
}

// Logs from inside its callbacks, as a front end reacting to a line might.
struct ReentrantObserver : EventLogObserver {
  void LineAdded(int row, const std::string& line) override { React("+", row, line); }
  void LineChanged(int row, const std::string& line) override { React("~", row, line); }
  void Cleared() override { seen.push_back("clear"); }
  void React(const char* kind, int row, const std::string& line) {
    seen.push_back(kind + std::to_string(row) + " " + line);
    if (seen.back() == "+0 1 x first") log.ListAdd("nested");
    if (seen.back() == "~1 2 x nested") log.Clear();
  }
  EventLog log;
  std::vector<std::string> seen;
};

TEST(EventLog, NestedCallsFromTheObserverLeaveItConsistent) {
  ReentrantObserver observer;
  observer.log.SetObserver(&observer);
  for (const char* e : {"first", "nested", "nested"}) observer.log.ListAdd(e);
  EXPECT_THAT(observer.seen, ElementsAre("+0 1 x first", "+1 1 x nested", "~1 2 x nested", "clear",
                                         "+0 1 x nested"));
}

}  // namespace
}  // namespace quorvel::testing
