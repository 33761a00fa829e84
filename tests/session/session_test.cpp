// The session's pieces that run on Qt's event loop: the monitor's timer and the player's changes,
// and the one instance per settings file.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <vector>

#include "media/qt_environment.h"
#include "monitor/monitor_fakes.h"
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
    EXPECT_EQ(sentAfterChange("Other"), std::vector<Bytes>{});
    session.SetInterval(1000);
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    EXPECT_FALSE(session.TimerActive());
  }
  EXPECT_FALSE(player.watch.playbackChanged || player.watch.playersChanged);  // stopped watching
}

// Answering a later start, and the file free again once its holder has ended, are run end to end
// by the program tests; here, what names the file: its real path, not the path given.
TEST(SingleInstance, TheSameFileByAnotherPathIsHeldWhileAnotherFileIsFree) {
  QTemporaryDir dir;
  SingleInstance first(dir.filePath(QStringLiteral("prefs.ini")));
  ASSERT_TRUE(first.Claim());
  const QString link = dir.filePath(QStringLiteral("link"));  // a link to the file's folder
  ASSERT_TRUE(QFile::link(dir.path(), link));
  EXPECT_FALSE(SingleInstance(link + QStringLiteral("/../link/prefs.ini")).Claim());
  EXPECT_TRUE(SingleInstance(dir.filePath(QStringLiteral("other.ini"))).Claim());
}

}  // namespace
}  // namespace quorvel::testing
