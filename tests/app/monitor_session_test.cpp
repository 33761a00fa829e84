#include "app/monitor_session.h"

#include <gtest/gtest.h>
#include <qtestsupport_core.h>

#include "media/qt_environment.h"
#include "monitor/monitor_fakes.h"

namespace quorvel::testing {
namespace {

[[maybe_unused]] const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

TEST(MonitorSession, TimerTicksAtTheIntervalAndZeroStopsIt) {
  RecordingProxy proxy;
  SwitchablePlayer player;
  Preferences prefs;
  prefs.updateT = kSpinMax - 20;  // a 20 ms interval
  MonitorSession session(proxy, player, prefs, {});
  Bytes profile = Flap(Snac(2, 4, MakeTLV(2, "%a")));
  session.Host().OutgoingAIM(1, profile);
  ASSERT_TRUE(QTest::qWaitFor([&] { return proxy.sent.size() >= 3; }, 10000));
  session.SetInterval(0);
  const std::size_t sent = proxy.sent.size();
  EXPECT_FALSE(QTest::qWaitFor([&] { return proxy.sent.size() > sent; }, 200));
}

}  // namespace
}  // namespace quorvel::testing
