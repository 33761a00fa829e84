#include "app/monitor_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "event_wait.h"
#include "media/qt_environment.h"
#include "monitor/monitor_fakes.h"

namespace quorvel {
namespace {

using ::testing::ElementsAre;
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

TEST(MonitorSession, PrintsEachLogChangeAndTitleAsItsLine) {
  RecordingProxy proxy;
  SwitchablePlayer player;
  const Preferences prefs = WithInterval(0);
  std::vector<std::string> printed;
  MonitorSession session(proxy, player, prefs, [&](const std::string& s) { printed.push_back(s); });
  EXPECT_FALSE(session.TimerActive());

  Bytes reply = SnacFrame(0x17, 3, Tlv(1, "me"));
  Bytes buddy = SnacFrame(3, 0x0B,
                          "\x03"
                          "bob");
  session.Host().IncomingAIM(1, reply);
  session.Host().IncomingAIM(1, buddy);
  session.Host().IncomingAIM(1, buddy);
  session.Host().SocketEvent(1, "Local Socket Closed");
  EXPECT_THAT(printed, ElementsAre(" [ me ] - Quorvel", "1 x Update bob", "2 x Update bob",
                                   "1 x Socket (1): Local Socket Closed"));
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
