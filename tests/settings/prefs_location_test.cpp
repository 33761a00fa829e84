#include "settings/prefs_location.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace quorvel {
namespace {

TEST(PrefsLocation, BesideTheProgramWhenPossibleElseTheConfigFolder) {
  QTemporaryDir dir;
  const QString program = dir.filePath(QStringLiteral("bin"));
  const QString config = dir.filePath(QStringLiteral("config"));
  ASSERT_TRUE(QDir().mkpath(program));
  EXPECT_EQ(ChoosePrefsPath({}, program, config), program + QStringLiteral("/prefs.ini"));
  EXPECT_TRUE(QDir(program).entryList(QDir::Files | QDir::Hidden).isEmpty());  // probe removed
  QFile plain(dir.filePath(QStringLiteral("plain")));  // nothing can be created below a file
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  EXPECT_EQ(ChoosePrefsPath({}, dir.filePath(QStringLiteral("plain/bin")), config),
            config + QStringLiteral("/prefs.ini"));
  const QString mine = dir.filePath(QStringLiteral("mine.ini"));
  EXPECT_EQ(ChoosePrefsPath(mine, program, config), mine);
  EXPECT_TRUE(QFileInfo(ChoosePrefsPath(QStringLiteral("rel.ini"), program, config)).isAbsolute());
}

}  // namespace
}  // namespace quorvel
