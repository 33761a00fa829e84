// Client sessions through `quorvel --headless`: each connection's profile and away message are
// its own and end with it, commands come only from instant messages, coming back sticks, no token
// text reaches the server, and updates go out when the music changes, not at every tick.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quorvel::testing
