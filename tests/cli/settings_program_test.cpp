// The program and its settings file: where it lives once installed, files it must refuse, a file
// left as it was after a run that changed nothing, and a save that fails.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include "cli/program_runs.h"
#include "net/loopback.h"
#include "settings/original_prefs.h"
#include "settings/test_files.h"

namespace quorvel::testing {
namespace {

using ::testing::HasSubstr;

TEST(SettingsFile, SomethingElseThanAFileStopsTheStartNamingIt) {
  QTemporaryDir dir;
  const QString fifo = dir.filePath(QStringLiteral("fifo.ini"));
  const QString zero = dir.filePath(QStringLiteral("zero.ini"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), zero));
  for (const auto& [path, says] : {std::pair{fifo, "is a FIFO"}, {zero, "is a device"}}) {
    for (const char* mode : {"--headless", "--now-playing"}) {
      SCOPED_TRACE(path.toStdString() + " " + mode);
      QElapsedTimer took;
      took.start();
      RunningProgram quorvel({mode, "--prefs", path, "--port", "0", "--player", "none"});
      EXPECT_EQ(quorvel.Finish(), 1);  // at once: no hang, no growing memory
      EXPECT_LT(took.elapsed(), 5000);
      EXPECT_THAT(quorvel.err, HasSubstr(path.toStdString() + ": " + says));
    }
  }
}

TEST(SettingsFile, OriginalFileIsByteIdenticalAfterARunThatChangedNothing) {
  QTemporaryDir dir;
  const QString prefs = dir.filePath(QStringLiteral("prefs.ini"));
  ASSERT_TRUE(WriteBytes(prefs, kOriginalPrefs));
  RunningProgram quorvel({"--headless", "--prefs", prefs, "--port", "0", "--player", "none"});
  ASSERT_NE(quorvel.ListeningPort(), 0) << quorvel.err;
  EXPECT_EQ(quorvel.Terminate(), 0) << quorvel.err;
  EXPECT_EQ(ReadBytes(prefs), kOriginalPrefs);  // no bind line, no byte changed

  // --now-playing reads the file it is named and never writes it, not even to mend a value.
  const Bytes refused = "[KAVO]\r\nupdateT=soon\r\n";
  ASSERT_TRUE(WriteBytes(prefs, refused));
  RunningProgram nowPlaying({"--prefs", prefs, "--now-playing", "--player", "none"});
  nowPlaying.Finish();
  EXPECT_THAT(nowPlaying.err, HasSubstr("prefs.ini: [KAVO] updateT=\"soon\""));
  EXPECT_EQ(ReadBytes(prefs), refused);
}

TEST(SettingsFile, SaveThatFailsAtExitEndsWithStatusOne) {
  QTemporaryDir dir;
  const QString folder = dir.filePath(QStringLiteral("gone"));
  const QString prefs = folder + QStringLiteral("/prefs.ini");
  RunningProgram quorvel({"--headless", "--prefs", prefs, "--port", "0", "--player", "none"});
  ASSERT_NE(quorvel.ListeningPort(), 0) << quorvel.err;
  ASSERT_TRUE(WriteBytes(folder, "a file where the folder was to be"));
  EXPECT_EQ(quorvel.Terminate(), 1);
  EXPECT_THAT(quorvel.err, HasSubstr("settings not saved"));
}

// The installed program, run by a user whose home is a fresh folder: the settings never go beside
// the program; a prefs.ini there that the user cannot write gives the starting values.
TEST(InstalledProgram, KeepsTheSettingsInTheUsersFolderStartingFromOneBesideIt) {
  QTemporaryDir dir;
  ASSERT_TRUE(QFile::setPermissions(
      dir.path(), QFile::permissions(dir.path()) | QFileDevice::ExeOther | QFileDevice::ReadOther));
  const QString prefix = dir.filePath(QStringLiteral("usr"));
  QProcess install;
  install.start(QStringLiteral(QUORVEL_CMAKE),
                {"--install", QStringLiteral(QUORVEL_BUILD_DIR), "--prefix", prefix});
  ASSERT_TRUE(install.waitForFinished(60000));
  ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
  const QString program = prefix + QStringLiteral("/bin/quorvel");
  const QString beside = prefix + QStringLiteral("/bin/prefs.ini");

  const auto homeOf = [&](const char* name) {
    const QString home = dir.filePath(QLatin1String(name));
    EXPECT_TRUE(QDir().mkpath(home));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    return env;
  };
  const QString ownFile = QStringLiteral("/.config/quorvel/prefs.ini");

  // The first run (as whoever runs the tests, the superuser too) writes to its own home only.
  {
    const QProcessEnvironment env = homeOf("first");
    RunningProgram quorvel({"--headless", "--port", "0", "--player", "none"}, program, env);
    ASSERT_NE(quorvel.ListeningPort(), 0) << quorvel.err;
    EXPECT_EQ(quorvel.Terminate(), 0) << quorvel.err;
    EXPECT_FALSE(QFile::exists(beside));
    EXPECT_TRUE(QFile::exists(env.value(QStringLiteral("HOME")) + ownFile));
  }

  // A prefs.ini beside the program that this user cannot write: its values start the run, and
  // the user's own file is a byte-identical copy when nothing changed.
  const quint16 port = Listen()->serverPort();  // free again once the probe is gone
  Bytes seed = kOriginalPrefs;
  seed.replace(seed.find("port=4000"), 9, "port=" + std::to_string(port));
  ASSERT_TRUE(WriteBytes(beside, seed));
  ASSERT_TRUE(QFile::setPermissions(
      beside, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
  QProcessEnvironment env = homeOf("second");
  QStringList arguments = {"--headless", "--player", "none"};
  QString runner = program;
  if (::geteuid() == 0) {
    // The superuser writes everywhere: run as nobody, who owns only the home.
    const QString home = env.value(QStringLiteral("HOME"));
    ASSERT_EQ(::chown(QFile::encodeName(home).constData(), 65534, 65534), 0);
    arguments.prepend(program);
    arguments = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} + arguments;
    runner = QStringLiteral("setpriv");
  } else {
    ASSERT_TRUE(QFile::setPermissions(prefix + QStringLiteral("/bin"),
                                      QFileDevice::ReadOwner | QFileDevice::ExeOwner));
  }
  RunningProgram quorvel(arguments, runner, env);
  EXPECT_EQ(quorvel.ListeningPort(), port) << quorvel.err;
  EXPECT_EQ(quorvel.Terminate(), 0) << quorvel.err;
  EXPECT_EQ(ReadBytes(env.value(QStringLiteral("HOME")) + ownFile), seed);
  EXPECT_EQ(ReadBytes(beside), seed);
  QFile::setPermissions(prefix + QStringLiteral("/bin"),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

}  // namespace
}  // namespace quorvel::testing
