#include "app/monitor_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "event_wait.h"
#include "media/qt_environment.h"
#include "monitor/monitor_fakes.h"

namespace quorvel {
namespace {

using testing::RecordingProxy;
using testing::SnacFrame;
using testing::SwitchablePlayer;
using testing::Tlv;

[[maybe_unused]] const auto* const kQt =
    ::testing::AddGlobalTestEnvironment(new testing::QtEnvironment);

Preferences WithInterval(int ms) {
  Preferences prefs;
  prefs.updateT = kSpinMax - ms;
  return prefs;
}

TEST(MonitorSession, TimerTicksAtTheIntervalAndZeroStopsIt) {
  RecordingProxy proxy;
  SwitchablePlayer player;
  player.Play("Band", "Tune");
  const Preferences prefs = WithInterval(20);
  MonitorSession session(proxy, player, prefs, {});
  ASSERT_TRUE(session.TimerActive());

  Bytes profile = SnacFrame(2, 4, Tlv(2, "%a"));
  session.Host().OutgoingAIM(1, profile);
  ASSERT_TRUE(testing::WaitFor([&] { return proxy.sent.size() >= 3; }, 10000));
  EXPECT_EQ(proxy.sent.back().data.substr(16), Tlv(2, "Band"));

  session.SetInterval(0);
  EXPECT_FALSE(session.TimerActive());
  const std::size_t sent = proxy.sent.size();
  testing::RunEvents(100);
  EXPECT_EQ(proxy.sent.size(), sent);
}

}  // namespace
}  // namespace quorvel
