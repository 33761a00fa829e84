#include "monitor/traffic_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "media/composer.h"
#include "media/fake_media.h"
#include "monitor/composition.h"
#include "monitor_fakes.h"
#include "test_bytes.h"
#include "wire/away_snac.h"
#include "wire/replace.h"
#include "wire/snac.h"
#include "wire/tlv.h"

namespace quorvel {
namespace {

using ::testing::ElementsAre;
using testing::Hex;
using ::testing::IsEmpty;
using testing::PlainSettings;
using testing::PlainUpdates;
using testing::RecordingProxy;
using testing::Sent;
using testing::SnacFrame;
using testing::Tlv;
using testing::ToHex;

constexpr BytesView kUtf8Mime = "text/aolrtf; charset=\"utf-8\"";

Bytes ProfileFrame(BytesView profile, BytesView mime = kAwayMimeUsAscii) {
  return SnacFrame(2, 4, Tlv(1, mime) + Tlv(2, profile) + Tlv(5, Hex("09 46 13 4E")));
}

// What goes out for `typed` once its profile reads `profile`: the client's FLAP header as it was
// (the relay stamps sequence number and length), the rest rebuilt.
Bytes ProfileSent(BytesView typed, BytesView profile, BytesView mime = kAwayMimeUsAscii) {
  return Bytes(typed.substr(0, 6)) + ProfileFrame(profile, mime).substr(6);
}

Bytes AwayFrame(BytesView mime, BytesView text, BytesView after = {}) {
  return SnacFrame(2, 4, Tlv(3, mime) + Tlv(4, text) + Bytes(after));
}

// The away SNAC a composed or fake away carries, behind `header`.
Bytes AwaySet(BytesView header, BytesView mime, BytesView text) {
  return Bytes(header) + MakeAwaySNAC(mime, text);
}

// An instant message whose HTML body holds `typed`, the way clients send it.
Bytes InstantMessage(BytesView header, BytesView typed) {
  const Bytes html =
      "<HTML><BODY BGCOLOR=\"#ffffff\"><FONT LANG=\"0\">" + Bytes(typed) + "</FONT></BODY></HTML>";
  Bytes frame = SnacFrame(4, 6, Hex("00 01 02 03 04 05 06 07 00 01 03 62 6F 62") + Tlv(2, html));
  frame.replace(0, 6, header);
  return frame;
}

class TrafficMonitorTest : public ::testing::Test {
 protected:
  TrafficMonitorTest() {
    monitor.SetTitleListener([this](const std::string& title) { titles.push_back(title); });
    player.Play("Band", "Tune");
    format.block = "Now: %a\r\n%s";
  }

  // Feeds one client frame and returns what went to the server in its place.
  Bytes Outgoing(Bytes frame, SlotIndex index = 1) {
    const std::size_t before = proxy.sent.size();
    monitor.OutgoingAIM(index, frame);
    EXPECT_EQ(proxy.sent.size(), before + 1) << "every client frame is sent exactly once";
    if (proxy.sent.size() != before + 1) return {};
    EXPECT_EQ(proxy.sent.back().kind, Sent::kToServer);
    EXPECT_EQ(proxy.sent.back().index, index);
    return proxy.sent.back().data;
  }

  // The frames one tick sends.
  std::vector<Bytes> Tick() {
    const std::size_t before = proxy.sent.size();
    monitor.CheckTimer();
    std::vector<Bytes> frames;
    for (std::size_t i = before; i < proxy.sent.size(); ++i) {
      EXPECT_EQ(proxy.sent[i].kind, Sent::kToServer);
      frames.push_back(proxy.sent[i].data);
    }
    return frames;
  }

  RecordingProxy proxy;
  testing::SwitchablePlayer player;
  PlainSettings format;
  PlainUpdates updates;
  Composer composer{player, format};
  EventLog log;
  TrafficMonitor monitor{proxy, composer, updates, log};
  std::vector<std::string> titles;
};

// ---- Server to client

TEST_F(TrafficMonitorTest, ServerFramesAreForwardedOnceUnchangedAndBuddiesLogged) {
  struct Case {
    const char* name;
    Bytes frame;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"too short for a key", Hex("2A 02 00 01 00 03 00 03 00"), {}},
      {"buddy online",
       SnacFrame(3, 0x0B, Hex("05") + "alice" + Hex("00 00 00 02")),
       {"1 x Update alice"}},
      {"buddy offline on another channel, high bytes set",
       SnacFrame(0x7703, 0x550C, Hex("03") + "bob", 5),
       {"1 x Update alice", "1 x Signoff bob"}},
      {"offline, empty data: nothing to log",
       SnacFrame(3, 0x0C, ""),
       {"1 x Update alice", "1 x Signoff bob"}},
      {"name length lying past the end",
       SnacFrame(3, 0x0B, Hex("20") + "eve"),
       {"1 x Update alice", "1 x Signoff bob", "1 x Update eve"}},
      {"again online",
       SnacFrame(3, 0x0B, Hex("05") + "alice"),
       {"2 x Update alice", "1 x Signoff bob", "1 x Update eve"}},
      {"other SNAC",
       SnacFrame(1, 0x13, Hex("05") + "alice"),
       {"2 x Update alice", "1 x Signoff bob", "1 x Update eve"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes frame = c.frame;
    monitor.IncomingAIM(7, frame);
    ASSERT_EQ(proxy.sent.size(), 1U);
    EXPECT_EQ(proxy.sent[0].kind, Sent::kToClient);
    EXPECT_EQ(proxy.sent[0].index, 7);
    EXPECT_EQ(ToHex(proxy.sent[0].data), ToHex(c.frame));
    EXPECT_EQ(log.Lines(), c.lines);
    proxy.sent.clear();
  }
  EXPECT_THAT(titles, IsEmpty());
  EXPECT_EQ(monitor.ScreenName(), "[ Not Logged On ]");
}

TEST_F(TrafficMonitorTest, LoginReplySetsScreenNameAndTitle) {
  Bytes reply = SnacFrame(0x17, 3, Tlv(1, "Alice Smith") + Tlv(5, "1.2.3.4:5190"), 2);
  monitor.IncomingAIM(1, reply);
  EXPECT_EQ(monitor.ScreenName(), "Alice Smith");

  // A reply without TLV 1 (a failed login) is recognised by its key all the same.
  Bytes failed = SnacFrame(0x17, 3, Tlv(8, Hex("00 05")));
  monitor.IncomingAIM(1, failed);
  EXPECT_EQ(monitor.ScreenName(), "<none>");
  EXPECT_THAT(titles, ElementsAre(" [ Alice Smith ] - Quorvel", " [ <none> ] - Quorvel"));
  EXPECT_EQ(proxy.sent.size(), 2U);
  EXPECT_THAT(log.Lines(), IsEmpty());

  monitor.ResetForStartUp();
  EXPECT_EQ(monitor.ScreenName(), "[ Not Logged On ]");
}

// ---- Client to server, raw traffic, socket events

TEST_F(TrafficMonitorTest, RawChunksAndSocketEventsPassThrough) {
  Bytes up = "GET / HTTP/1.0\r\n";
  Bytes down = Hex("00 FF 2A");
  monitor.OutgoingData(3, 80, up);
  monitor.IncomingData(3, 80, down);
  ASSERT_EQ(proxy.sent.size(), 2U);
  EXPECT_EQ(proxy.sent[0].kind, Sent::kRawToServer);
  EXPECT_EQ(proxy.sent[0].data, up);
  EXPECT_EQ(proxy.sent[1].kind, Sent::kRawToClient);
  EXPECT_EQ(proxy.sent[1].data, down);

  monitor.SocketEvent(2, "Remote Socket Closed");
  monitor.SocketEvent(2, "Remote Socket Closed");
  monitor.SocketEvent(0, "Start Listen Failure: address in use");
  EXPECT_THAT(log.Lines(), ElementsAre("2 x Socket (2): Remote Socket Closed",
                                       "1 x Socket (0): Start Listen Failure: address in use"));
}

TEST_F(TrafficMonitorTest, EveryPrefixOfEveryKindOfFrameIsForwardedExactlyOnce) {
  const std::vector<Bytes> frames = {
      ProfileFrame("<b>%a - %s</b>"),
      AwayFrame(kUtf8Mime, "away %a", Tlv(5, "xx")),
      InstantMessage(Hex("2A 02 00 01 00 00"), ".a gone"),
      InstantMessage(Hex("2A 02 00 01 00 00"), ".b"),
      SnacFrame(3, 0x0B, Hex("05") + "alice"),
      SnacFrame(0x17, 3, Tlv(1, "me")),
  };
  for (const Bytes& whole : frames) {
    for (std::size_t n = 0; n <= whole.size(); ++n) {
      Bytes up = whole.substr(0, n);
      Bytes down = whole.substr(0, n);
      proxy.sent.clear();
      monitor.OutgoingAIM(1, up);
      monitor.IncomingAIM(1, down);
      ASSERT_EQ(proxy.sent.size(), 2U) << ToHex(whole) << " cut to " << n;
      EXPECT_LE(proxy.sent[0].data.size(), 6U + 65535U);
      EXPECT_EQ(proxy.sent[1].data, whole.substr(0, n));
      if (n < 10) {
        EXPECT_EQ(proxy.sent[0].data, whole.substr(0, n));
      }
    }
  }
}

// ---- The profile

TEST_F(TrafficMonitorTest, ProfileIsCapturedAsSentAndForwardedFilled) {
  const Bytes frame = ProfileFrame("<b>%a - %s</b>");
  EXPECT_EQ(ToHex(Outgoing(frame, 4)), ToHex(ProfileSent(frame, "<b>Band - Tune</b>")));
  EXPECT_EQ(monitor.CapturedProfile(), frame);
  EXPECT_TRUE(monitor.ProfileRewritten());
  EXPECT_FALSE(monitor.AwayRewritten());
  EXPECT_THAT(monitor.CapturedAway(), IsEmpty());
  EXPECT_EQ(monitor.ActiveSlot(), 4);
  EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST_F(TrafficMonitorTest, ProfileTlvIsReplacedWhereverItOccurs) {
  const Bytes tlv = Tlv(2, "%s!");
  const Bytes frame = SnacFrame(2, 4, tlv + Tlv(6, "keep %s!") + tlv);
  EXPECT_EQ(Outgoing(frame).substr(6),
            SnacFrame(2, 4, Tlv(2, "Tune!") + Tlv(6, "keep %s!") + Tlv(2, "Tune!")).substr(6));
}

TEST_F(TrafficMonitorTest, ProfileReadingNoneIsStillAProfile) {
  const Bytes frame = ProfileFrame("<none> %a");
  EXPECT_EQ(Outgoing(frame), ProfileSent(frame, "<none> Band"));
  EXPECT_EQ(monitor.CapturedProfile(), frame);
  EXPECT_THAT(monitor.CapturedAway(), IsEmpty());
}

TEST_F(TrafficMonitorTest, ProfileWithoutPlayerGoesOutAsTyped) {
  player.Vanish();
  const Bytes frame = ProfileFrame("<b>%a - %s</b>");
  EXPECT_EQ(Outgoing(frame), frame);
  EXPECT_TRUE(monitor.ProfileRewritten());
}

TEST_F(TrafficMonitorTest, ProfileCharsetFollowsTheFilledText) {
  struct Case {
    const char* name;
    Bytes artist;
    Bytes profile;
    Bytes mime;
    Bytes expectedMime;
  };
  const std::vector<Case> cases = {
      {"ascii stays us-ascii", "Band", "%a", Bytes(kAwayMimeUsAscii), Bytes(kAwayMimeUsAscii)},
      {"non-ASCII artist declares utf-8", "Sigur R\xC3\xB3s", "%a", Bytes(kAwayMimeUsAscii),
       Bytes(kUtf8Mime)},
      {"unquoted, upper case", "Sigur R\xC3\xB3s", "%a", "text/aolrtf; charset=US-ASCII",
       "text/aolrtf; charset=utf-8"},
      {"other charsets are left alone", "Sigur R\xC3\xB3s", "%a",
       "text/aolrtf; charset=\"iso-8859-1\"", "text/aolrtf; charset=\"iso-8859-1\""},
      {"nothing filled, nothing switched", "Sigur R\xC3\xB3s", "caf\xC3\xA9",
       Bytes(kAwayMimeUsAscii), Bytes(kAwayMimeUsAscii)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    player.Play(c.artist, "Tune");
    const Bytes typed = ProfileFrame(c.profile, c.mime);
    const Bytes sent = Outgoing(typed);
    const Bytes filled = ReplaceAll(c.profile, "%a", c.artist);
    EXPECT_EQ(ToHex(sent), ToHex(ProfileSent(typed, filled, c.expectedMime)));
  }
}

TEST_F(TrafficMonitorTest, ProfileTooLongOnceFilledGoesOutAsTheClientSentIt) {
  // 20000 tokens fill to 80000 bytes: more than one TLV holds.
  Bytes tokens;
  for (int i = 0; i < 20000; ++i) tokens += "%a";
  const Bytes tooLongForTlv = ProfileFrame(tokens);
  // Two TLVs of 30000 bytes fit the frame; filled, each still fits a TLV but together not a frame.
  Bytes half;
  for (int i = 0; i < 10000; ++i) half += "%a.";
  const Bytes tooLongForFrame = SnacFrame(2, 4, Tlv(2, half) + Tlv(2, half));
  for (const Bytes& frame : {tooLongForTlv, tooLongForFrame}) {
    EXPECT_EQ(Outgoing(frame), frame);
    EXPECT_EQ(monitor.CapturedProfile(), frame);
    ASSERT_EQ(Tick().front(), frame);
  }
}

// ---- The away message

TEST_F(TrafficMonitorTest, AwayFramesAreComposedFromTheirAwayText) {
  const Bytes header = Hex("2A 02 00 09 00 00");
  struct Case {
    const char* name;
    Bytes snacData;
    Bytes expectedMime;
    Bytes expectedText;
  };
  const std::vector<Case> cases = {
      {"utf-8 with a further TLV",
       Tlv(3, kUtf8Mime) + Tlv(4, "Out: %a - %s") + Tlv(5, Hex("00 00 01")),
       Bytes(kAwayMimeUsAscii), "Out: Band - Tune"},
      {"utf-8, away text last", Tlv(3, kUtf8Mime) + Tlv(4, "%s"), Bytes(kAwayMimeUsAscii), "Tune"},
      {"us-ascii", Tlv(3, kAwayMimeUsAscii) + Tlv(4, "%a"), Bytes(kAwayMimeUsAscii), "Band"},
      {"unquoted us-ascii", Tlv(3, "text/x-aolrtf; charset=us-ascii") + Tlv(4, "%a"),
       Bytes(kAwayMimeUsAscii), "Band"},
      {"no charset", Tlv(3, "text/aolrtf") + Tlv(4, "%a"), Bytes(kAwayMimeUsAscii), "Band"},
      {"no mime at all", Tlv(4, "%a"), Bytes(kAwayMimeUsAscii), "Band"},
      {"iso-8859-1 becomes utf-8",
       Tlv(3, "text/aolrtf; charset=\"iso-8859-1\"") + Tlv(4, "caf\xE9 %a"), Bytes(kUtf8Mime),
       "caf\xC3\xA9 Band"},
      {"empty away text: back", Tlv(3, kUtf8Mime) + Tlv(4, ""), Bytes(kAwayMimeUsAscii), ""},
      {"away text running past the end", Tlv(3, kUtf8Mime) + Hex("00 04 00 40") + "%a",
       Bytes(kAwayMimeUsAscii), "Band"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes frame = SnacFrame(2, 4, c.snacData);
    frame.replace(0, 6, header);
    EXPECT_EQ(ToHex(Outgoing(frame)), ToHex(AwaySet(header, c.expectedMime, c.expectedText)));
    EXPECT_EQ(monitor.CapturedAway(), frame);
    EXPECT_TRUE(monitor.AwayRewritten());
  }
  EXPECT_FALSE(monitor.ProfileRewritten());
}

TEST_F(TrafficMonitorTest, AwayFramesWithNothingToComposeGoOutUnchangedButAreCaptured) {
  const Bytes away = AwayFrame(kUtf8Mime, "%a");
  struct Case {
    const char* name;
    Bytes frame;
    bool awayUpdates;
    bool playing;
  };
  const std::vector<Case> cases = {
      {"capabilities only", SnacFrame(2, 4, Tlv(5, Hex("09 46 13 4E 4C 7F 11 D1"))), true, true},
      {"SNAC data empty", SnacFrame(2, 4, ""), true, true},
      {"SNAC header cut short", SnacFrame(2, 4, "").substr(0, 12), true, true},
      {"UTF-16 text", AwayFrame("text/aolrtf; charset=\"unicode-2-0\"", Hex("00 25 00 61")), true,
       true},
      {"unknown charset", AwayFrame("text/aolrtf; charset=\"koi8-r\"", "%a"), true, true},
      {"away updates off", away, false, true},
      {"no player", away, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    updates.away = c.awayUpdates;
    if (c.playing)
      player.Play("Band", "Tune");
    else
      player.Vanish();
    EXPECT_EQ(ToHex(Outgoing(c.frame)), ToHex(c.frame));
    EXPECT_EQ(monitor.CapturedAway(), c.frame);
    EXPECT_TRUE(monitor.AwayRewritten());
  }
}

TEST_F(TrafficMonitorTest, AwayCharsetAndBlockAndSize) {
  const Bytes header = Hex("2A 02 00 09 00 00");
  // Non-ASCII from the player declares utf-8.
  player.Play("Sigur R\xC3\xB3s", "Tune");
  Bytes frame = AwayFrame(kAwayMimeUsAscii, "%a");
  frame.replace(0, 6, header);
  EXPECT_EQ(Outgoing(frame), AwaySet(header, kUtf8Mime, "Sigur R\xC3\xB3s"));

  // The Replace Continued block stands in for the client's text, line breaks as <BR>.
  player.Play("Band", "Tune");
  updates.block = true;
  EXPECT_EQ(Outgoing(frame), AwaySet(header, kAwayMimeUsAscii, "Now: Band<BR>Tune"));
  updates.block = false;

  // A text that would not fit one frame once filled: the client's own frame.
  Bytes big;
  for (int i = 0; i < 20000; ++i) big += "%a.";
  const Bytes huge = AwayFrame(kUtf8Mime, big);
  EXPECT_EQ(Outgoing(huge), huge);
  // The largest text that fits: 65535 data bytes exactly.
  const Bytes fits = AwayFrame(kUtf8Mime, Bytes(65535 - 18 - 31 - 4, 'x') + "%s");
  const Bytes sent = Outgoing(fits);
  EXPECT_EQ(sent.size(), 6U + 65535U);
  EXPECT_EQ(sent.substr(sent.size() - 6), "xxTune");
  const Bytes oneMore = AwayFrame(kUtf8Mime, Bytes(65535 - 18 - 31 - 3, 'x') + "%s");
  EXPECT_EQ(Outgoing(oneMore), oneMore);
}

// ---- The fake away

TEST_F(TrafficMonitorTest, DotACommandSetsTheAwayMessageInsteadOfDelivering) {
  const Bytes header = Hex("2A 02 1A 2B 00 40");
  const Bytes sent = Outgoing(InstantMessage(header, ".a gone"));
  EXPECT_EQ(ToHex(sent), ToHex(AwaySet(header, kAwayMimeUsAscii,
                                       "<HTML><BODY BGCOLOR=\"#ffffff\"><FONT LANG=\"0\">gone"
                                       "</FONT></BODY></HTML>")));
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Away [Fake]"));
  // The capture state is not touched.
  EXPECT_THAT(monitor.CapturedAway(), IsEmpty());
  EXPECT_FALSE(monitor.AwayRewritten());
  EXPECT_EQ(monitor.ActiveSlot(), 0);

  const Bytes accented = Outgoing(InstantMessage(header, ".a caf\xC3\xA9"));
  EXPECT_EQ(accented.substr(6 + 14, kUtf8Mime.size()), kUtf8Mime);

  EXPECT_EQ(Outgoing(InstantMessage(header, ".b")), AwaySet(header, "", ""));
  EXPECT_THAT(log.Lines(), ElementsAre("2 x Away [Fake]", "1 x Return [Fake]"));
}

TEST_F(TrafficMonitorTest, FramesThatOnlyLookLikeCommandsGoOutUnchanged) {
  const Bytes header = Hex("2A 02 00 05 00 00");
  const std::vector<Bytes> frames = {
      InstantMessage(header, ".A gone"),
      InstantMessage(header, ".Back"),
      InstantMessage(header, "x.a gone"),
      SnacFrame(4, 6, "<b>.a no body</b>"),
      SnacFrame(4, 6, "<HTML><b>.a no end"),
      SnacFrame(4, 6, "</HTML> <HTML>.a end only before"),
      SnacFrame(4, 6, "<b>.a no body and .b</b> >.b"),
  };
  for (const Bytes& frame : frames) EXPECT_EQ(Outgoing(frame), frame);
  EXPECT_THAT(log.Lines(), IsEmpty());

  // A body after a stray "</HTML>" is still found.
  const Bytes stray = SnacFrame(4, 6, "</HTML><HTML><b>.a x</b></HTML>");
  EXPECT_EQ(Outgoing(stray).substr(6), MakeAwaySNAC(kAwayMimeUsAscii, "<HTML><b>x</b></HTML>"));
}

TEST_F(TrafficMonitorTest, FakeAwayTooLargeForOneFrameIsDeliveredAsSent) {
  // The body alone fills the frame; the away SNAC around it would not fit.
  const Bytes body = "<HTML>>.a " + Bytes(65535 - 10 - 10 - 7, 'x') + "</HTML>";
  const Bytes frame = SnacFrame(4, 6, body);
  ASSERT_EQ(frame.size(), 6U + 65535U);
  EXPECT_EQ(Outgoing(frame), frame);
  EXPECT_THAT(log.Lines(), IsEmpty());
}

// ---- The timer's updates

TEST_F(TrafficMonitorTest, TickBeforeAnyCaptureDoesNothing) {
  EXPECT_THAT(Tick(), IsEmpty());
  updates.enabled = false;
  EXPECT_THAT(Tick(), IsEmpty());
  EXPECT_THAT(log.Lines(), IsEmpty());
  EXPECT_EQ(player.queries, 0);
}

TEST_F(TrafficMonitorTest, ProfileUpdatesComposeEachTickRestoreOnceWhenOffAndResume) {
  const Bytes typed = ProfileFrame("<b>%a - %s</b>");
  const Bytes filled = ProfileSent(typed, "<b>Band - Tune</b>");
  Outgoing(typed, 3);

  EXPECT_THAT(Tick(), ElementsAre(filled));
  player.Play("Other", "Song");
  EXPECT_THAT(Tick(), ElementsAre(ProfileSent(typed, "<b>Other - Song</b>")));
  EXPECT_EQ(proxy.sent.back().index, 3);
  EXPECT_THAT(log.Lines(), ElementsAre("2 x Updated Profile"));

  updates.enabled = false;  // either switch off restores
  EXPECT_THAT(Tick(), ElementsAre(typed));
  EXPECT_FALSE(monitor.ProfileRewritten());
  EXPECT_THAT(Tick(), IsEmpty());
  updates.enabled = true;
  updates.profile = false;
  EXPECT_THAT(Tick(), IsEmpty());
  EXPECT_THAT(log.Lines(), ElementsAre("3 x Updated Profile"));

  updates.profile = true;
  EXPECT_THAT(Tick(), ElementsAre(ProfileSent(typed, "<b>Other - Song</b>")));
  EXPECT_TRUE(monitor.ProfileRewritten());

  // A newer capture while restored: rewritten again, and the ticks follow the new text.
  updates.profile = false;
  Tick();
  const Bytes newer = ProfileFrame("%s");
  EXPECT_EQ(Outgoing(newer, 5), ProfileSent(newer, "Song"));
  EXPECT_TRUE(monitor.ProfileRewritten());
  EXPECT_THAT(Tick(), ElementsAre(newer));
  EXPECT_EQ(proxy.sent.back().index, 5);
  EXPECT_THAT(Tick(), IsEmpty());
}

TEST_F(TrafficMonitorTest, AwayUpdatesComposeEachTickRestoreOnceWhenOff) {
  const Bytes header = Hex("2A 02 00 09 00 00");
  Bytes typed = AwayFrame(kUtf8Mime, "away: %s", Tlv(6, "x"));
  typed.replace(0, 6, header);
  Outgoing(typed, 2);
  const Bytes composed = AwaySet(header, kAwayMimeUsAscii, "away: Tune");

  EXPECT_THAT(Tick(), ElementsAre(composed));
  EXPECT_THAT(Tick(), ElementsAre(composed));  // identical while the track stands
  EXPECT_EQ(proxy.sent.back().index, 2);

  updates.away = false;
  EXPECT_THAT(Tick(), ElementsAre(typed));
  EXPECT_FALSE(monitor.AwayRewritten());
  EXPECT_THAT(Tick(), IsEmpty());
  EXPECT_THAT(log.Lines(), ElementsAre("3 x Updated Away"));

  // The player gone: the client's text is sent each tick, and still logged.
  updates.away = true;
  player.Vanish();
  EXPECT_THAT(Tick(), ElementsAre(typed));
  EXPECT_TRUE(monitor.AwayRewritten());
}

TEST_F(TrafficMonitorTest, BothUpdatesRunInOrderOnTheActiveSlot) {
  const Bytes profile = ProfileFrame("%a");
  Outgoing(profile, 1);
  Outgoing(AwayFrame(kUtf8Mime, "%s"), 2);
  EXPECT_EQ(monitor.ActiveSlot(), 2);
  const auto frames = Tick();
  ASSERT_EQ(frames.size(), 2U);
  EXPECT_EQ(frames[0], ProfileSent(profile, "Band"));
  EXPECT_EQ(frames[1].substr(6), MakeAwaySNAC(kAwayMimeUsAscii, "Tune"));
  EXPECT_EQ(proxy.sent[proxy.sent.size() - 2].index, 2);
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Updated Profile", "1 x Updated Away"));

  // Start-up forgets the profile and both flags, but not the away capture.
  monitor.ResetForStartUp();
  updates.enabled = false;
  EXPECT_THAT(Tick(), IsEmpty());
  updates.enabled = true;
  ASSERT_EQ(Tick().size(), 1U);
}

}  // namespace
}  // namespace quorvel
