// `quorvel --now-playing` and the settings file it is given.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <string>

namespace quorvel::testing {
namespace {

TEST(NowPlaying, ReadsTheFileNamedByPrefsAndNeverWritesIt) {
  QTemporaryDir dir;
  const std::string file = "[KAVO]\r\nupdateT=soon\r\n";
  const QString path = dir.filePath(QStringLiteral("chosen.ini"));
  std::ofstream(path.toStdString(), std::ios::binary) << file;
  QProcess quorvel;
  quorvel.start(QStringLiteral(QUORVEL_BINARY),
                {"--prefs", path, "--now-playing", "--player", "none"});
  ASSERT_TRUE(quorvel.waitForFinished(10000));
  const std::string err = quorvel.readAllStandardError().toStdString();
  EXPECT_NE(err.find("chosen.ini: [KAVO] updateT=\"soon\""), std::string::npos) << err;
  QFile saved(path);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_EQ(saved.readAll().toStdString(), file);
}

}  // namespace
}  // namespace quorvel::testing
