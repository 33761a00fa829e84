#include "app/monitor_session.h"

#include <gtest/gtest.h>

#include "event_wait.h"
#include "media/qt_environment.h"
#include "monitor/monitor_fakes.h"

namespace quorvel {
namespace {

[[maybe_unused]] const auto* const kQt =
    ::testing::AddGlobalTestEnvironment(new testing::QtEnvironment);

TEST(MonitorSession, TimerTicksAtTheIntervalAndZeroStopsIt) {
  testing::RecordingProxy proxy;
  testing::SwitchablePlayer player;
  Preferences prefs;
  prefs.updateT = kSpinMax - 20;  // a 20 ms interval
  MonitorSession session(proxy, player, prefs, {});
  Bytes profile = testing::Flap(testing::Snac(2, 4, MakeTLV(2, "%a")));
  session.Host().OutgoingAIM(1, profile);
  ASSERT_TRUE(testing::WaitFor([&] { return proxy.sent.size() >= 3; }));
  EXPECT_EQ(proxy.sent.back().data.substr(16), MakeTLV(2, "Band"));

  session.SetInterval(0);
  const std::size_t sent = proxy.sent.size();
  EXPECT_FALSE(testing::WaitFor([&] { return proxy.sent.size() > sent; }, 200));
}

}  // namespace
}  // namespace quorvel
