// The session's pieces that run on Qt's event loop: the monitor's timer and the player's changes,
// the one instance per settings file, and how the listener report writes an address.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <tuple>
#include <vector>

#include "media/qt_environment.h"
#include "monitor/monitor_fakes.h"
#include "session/listener_report.h"
#include "session/monitor_session.h"
#include "session/single_instance.h"

namespace quorvel::testing {
namespace {

[[maybe_unused]] const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// The ticks themselves are seen end to end (headless test); here, what runs the updates between
// them and what stops them: an interval of 0, and the end of the event loop (no update goes out
// while the connections close after it).
TEST(MonitorSession, PlayerChangesRunTheUpdatesAtOnceUntilAnIntervalOfZeroOrTheEventLoopEnds) {
  RecordingRelay proxy;
  SwitchablePlayer player;
  Preferences prefs;
  prefs.intervalSpin = kSpinMax - 30000;
  {
    MonitorSession session(proxy, player, prefs, {});
    EXPECT_TRUE(session.TimerActive());
    Bytes profile = Flap(Snac(2, 4, MakeTLV(2, "%s")));
    session.Host().FrameFromClient(1, profile);
    const auto sentAfterChange = [&](const char* song) {
      proxy.sent.clear();
      player.snapshot = Playing("Band", song);
      player.watch.playbackChanged();
      player.watch.playersChanged();  // one update for both
      for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
      std::vector<Bytes> frames;
      for (const auto& [to, slot, frame] : proxy.sent) frames.push_back(frame.substr(6));
      return frames;
    };
    EXPECT_EQ(sentAfterChange("Next"), std::vector<Bytes>{Snac(2, 4, MakeTLV(2, "Next"))});
    session.SetInterval(0);  // no updates at all
    EXPECT_FALSE(session.TimerActive());
    EXPECT_EQ(sentAfterChange("Other"), std::vector<Bytes>{});
    session.SetInterval(1000);
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    EXPECT_FALSE(session.TimerActive());
  }
  EXPECT_FALSE(player.watch.playbackChanged || player.watch.playersChanged);  // stopped watching
}

TEST(SingleInstance, SecondClaimOfAFileAsksTheFirstWhichAnswersAndShowsItsWindow) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("prefs.ini"));
  SingleInstance first(path);
  ASSERT_TRUE(first.Claim());
  int shows = 0;
  QObject::connect(&first, &SingleInstance::showRequested, [&] { ++shows; });
  first.SetDescription([] { return RunningInstance{true, "::1", 4567}; });

  // The same file by another path: a link to its folder.
  const QString link = dir.filePath(QStringLiteral("link"));
  ASSERT_TRUE(QFile::link(dir.path(), link));
  SingleInstance second(link + QStringLiteral("/../link/prefs.ini"));
  EXPECT_FALSE(second.Claim());
  const auto status = second.AskHolder(SingleInstance::Request::kStatus);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(std::tie(status->hasWindow, status->address, status->port, shows),
            std::make_tuple(true, "::1", 4567, 0));
  EXPECT_TRUE(second.AskHolder(SingleInstance::Request::kShow).has_value());
  EXPECT_EQ(shows, 1);

  // Another file is free, and free again once its first holder has gone.
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(SingleInstance(dir.filePath("other.ini")).Claim());
  // Nobody to answer: nothing comes, within the wait.
  SingleInstance silent(dir.filePath(QStringLiteral("silent.ini")));
  EXPECT_FALSE(silent.AskHolder(SingleInstance::Request::kStatus, 300).has_value());
}

TEST(ListenerReport, AnIPv6AddressIsBracketedBeforeItsPort) {
  EXPECT_EQ(EndpointText("::", 3131), "[::]:3131");
}

}  // namespace
}  // namespace quorvel::testing
