#include "settings/prefs_location.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace quorvel {
namespace {

TEST(PrefsLocation, BesideTheProgramOnlyWhenAWritableFileIsThereElseTheConfigFolder) {
  QTemporaryDir dir;
  const QString program = dir.filePath(QStringLiteral("bin"));
  const QString config = dir.filePath(QStringLiteral("config"));
  const QString beside = program + QStringLiteral("/prefs.ini");
  const QString mine = config + QStringLiteral("/prefs.ini");
  ASSERT_TRUE(QDir().mkpath(program));
  auto where = [&] {
    const PrefsLocation location = ChoosePrefsLocation({}, program, config);
    return (location.path + QLatin1Char('|') + location.seedPath).toStdString();
  };

  // An installed program: nothing beside it, even where it could create a file.
  EXPECT_EQ(where(), (mine + QLatin1Char('|')).toStdString());
  EXPECT_TRUE(QDir(program).entryList(QDir::Files | QDir::Hidden).isEmpty());  // probe removed
  // A portable copy: its own file beside it.
  QFile file(beside);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  EXPECT_EQ(where(), (beside + QLatin1Char('|')).toStdString());
  // A file there that cannot be written gives the starting values of a file of one's own.
  ASSERT_TRUE(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadOther));
  if (!QFileInfo(beside).isWritable()) {  // the superuser may write anyway
    EXPECT_EQ(where(), (mine + QLatin1Char('|') + beside).toStdString());
  }
  // So does one in a folder that takes no new file (nothing can be created below a file).
  const QString plain = dir.filePath(QStringLiteral("plain"));
  ASSERT_TRUE(QFile(plain).open(QIODevice::WriteOnly));
  EXPECT_EQ(ChoosePrefsLocation({}, plain + QStringLiteral("/bin"), config).seedPath, "");
  EXPECT_EQ(ChoosePrefsLocation({}, plain + QStringLiteral("/bin"), config).path, mine);

  // --prefs wins, made absolute.
  const QString named = dir.filePath(QStringLiteral("named.ini"));
  EXPECT_EQ(ChoosePrefsLocation(named, program, config).path, named);
  EXPECT_EQ(ChoosePrefsLocation(named, program, config).seedPath, "");
  EXPECT_TRUE(
      QFileInfo(ChoosePrefsLocation(QStringLiteral("rel.ini"), program, config).path).isAbsolute());
}

}  // namespace
}  // namespace quorvel
