// The whole program over real loopback sockets: a test OSCAR server, test clients logging in
// through `quorvel --headless` by SOCKS4, and test MPRIS players on a private bus. Each
// connection's profile and away message are its own and end with it, commands come only from
// instant messages, coming back sticks, no token text reaches the server, updates go out when the
// music changes, and the player is the one the settings choose.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "cli/headless_run.h"
#include "wire/away_snac.h"

namespace quorvel::testing {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const Bytes kHtml = "<HTML><BODY BGCOLOR=\"#ffffff\"><FONT LANG=\"0\">";
const Bytes kHtmlEnd = "</FONT></BODY></HTML>";

Bytes Profile(BytesView text) {
  return Snac(2, 4, MakeTLV(1, kAwayMimeUsAscii) + MakeTLV(2, text));
}
Bytes Away(BytesView text) {
  return Snac(2, 4, MakeTLV(3, kAwayMimeUsAscii) + MakeTLV(4, text));
}
Bytes Typed(BytesView line) {
  return InstantMessage(kHtml + Bytes(line) + kHtmlEnd);
}

// Long enough for several ticks of 300 ms.
void SeveralTicks() {
  QTest::qWait(1500);
}

TEST(HeadlessEndToEnd, ClientLogsInThroughTheProxyAndItsProfileFollowsThePlayer) {
  HeadlessRun run(UpdatingEvery(300, false));
  ASSERT_TRUE(run.Running());
  Login login = run.Connect();
  ASSERT_NE(login.server, nullptr);

  // The server sends the login reply and buddy notices; the client its profile, its away
  // message and two instant messages to alice, the first setting an away, the second back.
  for (const Bytes& snac : {Snac(0x17, 3, MakeTLV(1, "TestUser")), Snac(3, 0x0B, "\5alice"),
                            Snac(3, 0x0B, "\5alice" + Bytes(4, 0)), Snac(3, 0x0C, "\3bob")}) {
    login.FromServer(snac);
  }
  const Bytes mime = MakeTLV(1, kAwayMimeUsAscii), caps = MakeTLV(5, Bytes(16, '\x09'));
  login.FromClient(Snac(2, 4, mime + MakeTLV(2, "<b>%a - %s</b>") + caps));
  login.FromClient(Snac(2, 4, MakeTLV(3, kAwayMimeUtf8) + MakeTLV(4, "Listening to %s by %a")));
  login.FromClient(Typed(".a gone"));
  login.FromClient(Typed(".b"));

  // The profile goes out filled, and again at each tick; the away message composed from the
  // client's text, declared us-ascii, until the typed away replaces it and the return ends it.
  const Bytes filled = Snac(2, 4, mime + MakeTLV(2, "<b>Band - Tune</b>") + caps);
  const Bytes away = MakeAwaySNAC(kAwayMimeUsAscii, "Listening to Tune by Band");
  const Bytes typedAway = MakeAwaySNAC(kAwayMimeUsAscii, kHtml + "gone" + kHtmlEnd);
  const Bytes back = MakeAwaySNAC("", "");
  const std::vector<std::string> lines = {
      " [ TestUser ] - Quorvel", "1 x Update alice", "2 x Update alice", "1 x Signoff bob",
      "3 x Updated Profile",     "1 x Away [Fake]",  "1 x Return [Fake]"};
  const auto done = [&] {
    return login.Count(filled) >= 4 &&
           std::all_of(lines.begin(), lines.end(), [&](auto& l) { return run.Printed(l); });
  };
  EXPECT_TRUE(QTest::qWaitFor(done, 10000)) << run.Output();
  // Nothing else reached the server (no instant message, no unfilled profile), in one numbering.
  const std::vector<Bytes> frames = login.Frames();
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(WordAt(frames[i], 2), static_cast<std::int32_t>(i + 1));
    EXPECT_THAT(frames[i].substr(6), ::testing::AnyOf(filled, away, typedAway, back));
  }
  EXPECT_THAT(login.Snacs(), ::testing::IsSupersetOf({away, typedAway, back}));
  EXPECT_EQ(login.Snacs().back(), filled);  // the return ended the away updates
}

TEST(HeadlessSessions, EachConnectionGetsOnlyItsOwnProfileAndNothingOnceItCloses) {
  HeadlessRun run(UpdatingEvery(300, false));  // a live capture would be sent at every tick
  ASSERT_TRUE(run.Running());
  Login first = run.Connect(), second = run.Connect();
  ASSERT_TRUE(first.server != nullptr && second.server != nullptr);
  // The first profile holds what a command search over every frame took for a return; the first
  // client also sends a frame of another kind that holds both commands.
  first.FromClient(Profile("<B>.bash</B> %s"));
  const Bytes other = Snac(0x10, 2, Bytes(4, 0) + "<HTML>>.a x</HTML>>.b");
  first.FromClient(other);
  second.FromClient(Profile("<B>%a</B>"));
  const Bytes firstFilled = Profile("<B>.bash</B> Tune"), secondFilled = Profile("<B>Band</B>");
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return first.Count(firstFilled) >= 3 && second.Count(secondFilled) >= 3; }, 10000))
      << run.Output();
  EXPECT_EQ(first.Count(other), 1);
  EXPECT_THAT(first.Snacs(), Each(::testing::AnyOf(firstFilled, other)));
  EXPECT_THAT(second.Snacs(), Each(secondFilled));

  // The first client goes; the next connection takes its slot and is sent nothing.
  first.client->close();
  ASSERT_TRUE(Until([&] { return first.server->state() == QAbstractSocket::UnconnectedState; }));
  Login third = run.Connect();
  ASSERT_NE(third.server, nullptr);
  const long before = second.Count(secondFilled);
  SeveralTicks();
  EXPECT_THAT(third.Snacs(), IsEmpty());
  EXPECT_GE(second.Count(secondFilled), before + 3);
  EXPECT_EQ(run.Output().find("Send Failure"), std::string::npos) << run.Output();
}

class HeadlessComingBack : public ::testing::TestWithParam<bool> {};

TEST_P(HeadlessComingBack, StaysBackAfterTheReturnUntilAnAwayIsSetAgain) {
  const bool block = GetParam();  // the away made from the Replace Continued block
  Preferences prefs = UpdatingEvery(300, false);
  prefs.awayUsesOwnMessage = !block;
  prefs.block = "Now: %s\r\n";
  HeadlessRun run(prefs);
  ASSERT_TRUE(run.Running());
  Login login = run.Connect();
  ASSERT_NE(login.server, nullptr);
  const Bytes back = MakeAwaySNAC("", "");
  const Bytes composed = MakeAwaySNAC(kAwayMimeUsAscii, block ? "Now: Tune<BR>" : "out: Tune");
  const Bytes typed = MakeAwaySNAC(
      kAwayMimeUsAscii, block ? "Now: Tune<BR>" : kHtml + "listening to Tune" + kHtmlEnd);
  const Bytes ownReturn = Snac(2, 4, MakeTLV(3, "") + MakeTLV(4, ""));
  const auto waitFor = [&](const Bytes& snac, long count) {
    return QTest::qWaitFor([&] { return login.Count(snac) >= count; }, 10000);
  };

  login.FromClient(Away("out: %s"));
  ASSERT_TRUE(waitFor(composed, 2)) << run.Output();
  login.FromClient(Typed(".b"));
  ASSERT_TRUE(waitFor(back, 1)) << run.Output();
  SeveralTicks();
  EXPECT_EQ(login.Snacs().back(), back);

  const long typedBefore = login.Count(typed);  // the block gives the same away
  login.FromClient(Typed(".a listening to %s"));
  ASSERT_TRUE(waitFor(typed, typedBefore + 2)) << run.Output();
  login.FromClient(ownReturn);
  ASSERT_TRUE(waitFor(ownReturn, 1)) << run.Output();
  SeveralTicks();
  EXPECT_EQ(login.Snacs().back(), ownReturn);
  EXPECT_TRUE(run.Printed("1 x Return [Fake]"));
  EXPECT_TRUE(run.Printed("1 x Away [Fake]"));
}

INSTANTIATE_TEST_SUITE_P(Away, HeadlessComingBack, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "BlockFormat" : "OwnMessage"; });

TEST(HeadlessSessions, WithoutAPlayerNoTokenTextReachesTheServer) {
  HeadlessRun run(UpdatingEvery(300, false), QStringLiteral("none"));
  ASSERT_TRUE(run.Running());
  Login login = run.Connect();
  ASSERT_NE(login.server, nullptr);
  login.FromClient(Profile("<B>%a - %s</B><BR>Hello %p"));
  login.FromClient(Away("%a<BR>out"));
  login.FromClient(Typed(".a listening to %s"));
  login.FromClient(Typed(".b"));
  login.FromClient(Typed("hi %a"));  // an ordinary message is the user's own text
  ASSERT_TRUE(QTest::qWaitFor([&] { return login.Count(Profile("<B></B>Hello ")) >= 3; }, 10000))
      << run.Output();
  for (const Bytes& snac : login.Snacs()) {
    if (snac == Typed("hi %a")) continue;
    for (const char* token : {"%a", "%s", "%p"}) {
      EXPECT_EQ(snac.find(token), Bytes::npos) << snac;
    }
  }
  EXPECT_GE(login.Count(MakeAwaySNAC(kAwayMimeUsAscii, "out")), 1);
  EXPECT_GE(login.Count(MakeAwaySNAC(kAwayMimeUsAscii, kHtml + "listening to " + kHtmlEnd)), 1);
}

TEST(HeadlessSessions, UnchangedTrackSendsNothingNewAndANewTrackArrivesAtOnce) {
  for (const int interval : {300, 60000}) {
    SCOPED_TRACE("interval " + std::to_string(interval));
    HeadlessRun run(UpdatingEvery(interval, true));
    ASSERT_TRUE(run.Running());
    Login login = run.Connect();
    ASSERT_NE(login.server, nullptr);
    login.FromClient(Profile("%s"));
    login.FromClient(Away("%a"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return login.Snacs().size() == 2; }, 10000));
    if (interval == 300) {
      SeveralTicks();
      EXPECT_THAT(login.Snacs(),
                  ElementsAre(Profile("Tune"), MakeAwaySNAC(kAwayMimeUsAscii, "Band")));
      continue;
    }
    // With a minute between ticks, the player's word alone brings the new track.
    run.Player().Set({.artists = {"Band"}, .title = "Next"});
    QElapsedTimer clock;
    clock.start();
    run.Player().EmitChanged({{"Metadata", QVariantMap{}}});
    EXPECT_TRUE(QTest::qWaitFor([&] { return login.Count(Profile("Next")) == 1; }, 10000));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_THAT(login.Snacs(), ElementsAre(Profile("Tune"), MakeAwaySNAC(kAwayMimeUsAscii, "Band"),
                                           Profile("Next")));
  }
}

// The player's choice stored in prefs.ini: a profile token is filled from the preferred player
// while it is there, and never from an ignored one.
TEST(HeadlessSessions, PreferredPlayerFirstThenTheChoiceSkipsIgnoredOnes) {
  Preferences prefs = UpdatingEvery(200, false);
  prefs.player = " ccc ";
  prefs.ignorePlayers = "aaa,zzz";
  HeadlessRun run(prefs, QString());
  ASSERT_TRUE(run.Running());
  const auto start = [&](const char* name, TestPlayerState state) {
    auto player = std::make_unique<ThreadedTestPlayer>(
        run.BusAddress(), QStringLiteral("org.mpris.MediaPlayer2.") + name, std::move(state));
    EXPECT_TRUE(player->Registered()) << name;
    return player;
  };
  // Without the ignore list "aaa" would be read, the first of those playing by name.
  auto ignored = start("aaa", {"Playing", {"Ignored"}, "Tune"});
  auto automatic = start("bbb", {"Playing", {"Automatic"}, "Tune"});
  auto preferred = start("ccc.instance9", {"Stopped", {"Preferred"}, "Tune"});
  Login login = run.Connect();
  ASSERT_NE(login.server, nullptr);
  login.FromClient(Snac(2, 4, MakeTLV(2, "%a")));
  const auto profileWas = [&](const char* artist) {
    return QTest::qWaitFor([&] { return login.Count(Snac(2, 4, MakeTLV(2, artist))) > 0; }, 10000);
  };
  EXPECT_TRUE(profileWas("Preferred")) << run.Output();
  preferred.reset();  // gone: the next update reads the choice among the others
  EXPECT_TRUE(profileWas("Automatic")) << run.Output();
  EXPECT_EQ(login.Count(Snac(2, 4, MakeTLV(2, "Ignored"))), 0);
}

}  // namespace
}  // namespace quorvel::testing

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
