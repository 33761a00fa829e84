#include "session/single_instance.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <tuple>

#include "media/qt_environment.h"
#include "session/listener_report.h"

namespace quorvel::testing {
namespace {

[[maybe_unused]] const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

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

  // Another file is free; and so is this one once the first has gone.
  EXPECT_TRUE(SingleInstance(dir.filePath(QStringLiteral("other.ini"))).Claim());
  EXPECT_TRUE(SingleInstance(dir.filePath(QStringLiteral("other.ini"))).Claim());
  // Nobody to answer: nothing comes, within the wait.
  SingleInstance silent(dir.filePath(QStringLiteral("silent.ini")));
  EXPECT_FALSE(silent.AskHolder(SingleInstance::Request::kStatus, 300).has_value());
}

TEST(ListenerReport, OnlyLoopbackAddressesStayOnThisMachine) {
  for (const char* address : {"127.0.0.1", "127.1.2.3", "::1"})
    EXPECT_TRUE(IsLoopbackAddress(address)) << address;
  for (const char* address : {"0.0.0.0", "::", "192.168.1.2", "10.0.0.1", "localhost", "", "x"})
    EXPECT_FALSE(IsLoopbackAddress(address)) << address;
  EXPECT_EQ(EndpointText("::", 3131), "[::]:3131");
  EXPECT_EQ(ListenFailureOf(0, "Start Listen Failure: in use"), "in use");
  EXPECT_EQ(ListenFailureOf(1, "Start Listen Failure: in use"), std::nullopt);
  EXPECT_EQ(ListenFailureOf(0, "Stop Listen Failure: x"), std::nullopt);
}

}  // namespace
}  // namespace quorvel::testing
