// The Preferences page's player box with the real MPRIS backend: test players on a private bus
// appear in it as they come and leave it as they go.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QTest>
#include <memory>

#include "gui/main_window.h"
#include "gui/window_front_end.h"
#include "media/mpris_player.h"
#include "media/private_bus.h"
#include "media/test_mpris_service.h"
#include "session/player_change_updates.h"

namespace quorvel::testing {
namespace {

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

TEST(PlayerBox, FollowsThePlayersOnTheBus) {
  PrivateBus bus;
  ASSERT_FALSE(bus.Address().isEmpty()) << "no dbus-daemon";
  auto first = std::make_unique<ThreadedTestPlayer>(
      bus.Address(), "org.mpris.MediaPlayer2.first.instance12", TestPlayerState{});
  ASSERT_TRUE(first->Registered());
  MprisPlayer player(QDBusConnection::connectToBus(bus.Address(), "player-box"), {});
  EventLog log;
  MainWindow window(log);
  window.AttachPlayer(player);
  const std::unique_ptr<PlayerChangeUpdates> follow = FollowPlayer(window, player);
  window.Start();
  auto* box = window.findChild<QComboBox*>(QStringLiteral("playerCombo"));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(Items(box), (QStringList{"Automatic", "first"}));
  box->setCurrentIndex(1);

  auto second = std::make_unique<ThreadedTestPlayer>(bus.Address(), "org.mpris.MediaPlayer2.second",
                                                     TestPlayerState{});
  ASSERT_TRUE(second->Registered());
  const QStringList both{"Automatic", "first", "second"};
  EXPECT_TRUE(QTest::qWaitFor([&] { return Items(box) == both; }, 5000))
      << Items(box).join(u' ').toStdString();
  first.reset();
  const QStringList left{"Automatic", "second"};
  EXPECT_TRUE(QTest::qWaitFor([&] { return Items(box) == left; }, 5000))
      << Items(box).join(u' ').toStdString();
  EXPECT_EQ(box->currentText(), "first");  // the choice outlasts its player's absence
  EXPECT_EQ(window.Settings().player, "first");
}

}  // namespace
}  // namespace quorvel::testing
