#include "gui/launch_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "gui/url_recorder.h"

namespace quorvel::testing {
namespace {

using ::testing::ElementsAre;

TEST(LaunchFile, StartsExecutablesOpensOtherFilesAndFailsSilently) {
  QTemporaryDir dir;
  UrlRecorder files("file"), web("https");
  EXPECT_TRUE(LaunchFile(dir.path()));  // a folder, like a file that is not executable, is opened
  EXPECT_TRUE(LaunchFile(QStringLiteral("https://example.org/im")));
  for (const char* name : {"", " ", "/no/such/client", "no-such-client", "C:\\im\\client.exe"})
    EXPECT_FALSE(LaunchFile(QString::fromLatin1(name))) << name;
  EXPECT_THAT(files.opened, ElementsAre(QUrl::fromLocalFile(dir.path())));
  EXPECT_THAT(web.opened, ElementsAre(QUrl(QStringLiteral("https://example.org/im"))));

  // An executable is started, in the given folder.
  const QString client = dir.filePath(QStringLiteral("client.sh"));
  std::ofstream(client.toStdString()) << "#!/bin/sh\necho > started\n";
  ASSERT_TRUE(QFile::setPermissions(client, QFile::permissions(client) | QFileDevice::ExeOwner));
  EXPECT_TRUE(LaunchFile(client, dir.path()));
  EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(dir.filePath("started")); }, 10000));
  EXPECT_EQ(files.opened.size(), 1);
}

}  // namespace
}  // namespace quorvel::testing
