// The whole program over real loopback sockets: a test OSCAR server, a test client logging in
// through `quorvel --headless` by SOCKS4, and a test MPRIS player on a private bus.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "cli/headless_run.h"
#include "wire/away_snac.h"

namespace quorvel::testing {
namespace {

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
  const Bytes html = "<HTML><BODY BGCOLOR=\"#ffffff\"><FONT LANG=\"0\">";
  login.FromClient(Snac(2, 4, mime + MakeTLV(2, "<b>%a - %s</b>") + caps));
  login.FromClient(Snac(2, 4, MakeTLV(3, kAwayMimeUtf8) + MakeTLV(4, "Listening to %s by %a")));
  for (const Bytes typed : {".a gone", ".b"}) {
    login.FromClient(InstantMessage(html + typed + "</FONT></BODY></HTML>"));
  }

  // The profile goes out filled, and again at each tick; the away message composed from the
  // client's text, declared us-ascii, until the typed away replaces it and the return ends it.
  const Bytes filled = Snac(2, 4, mime + MakeTLV(2, "<b>Band - Tune</b>") + caps);
  const Bytes away = MakeAwaySNAC(kAwayMimeUsAscii, "Listening to Tune by Band");
  const Bytes typedAway = MakeAwaySNAC(kAwayMimeUsAscii, html + "gone</FONT></BODY></HTML>");
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

}  // namespace
}  // namespace quorvel::testing

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
