// A real MPRIS player: Debian's mpv with its MPRIS plugin, run without sound or picture on a
// private bus, playing a file that has no tags. Skipped where those packages are not installed.

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <cstdint>
#include <string>

#include "private_bus.h"

namespace quorvel {
namespace {

// Where Debian's mpv-mpris puts the plugin, which mpv loads at start.
constexpr char kMprisPlugin[] = "/etc/mpv/scripts/mpris.so";

// A WAV file of `seconds` of silence: 8 kHz, mono, 16 bits, and no tags at all.
bool WriteSilence(const QString& path, int seconds) {
  const std::uint32_t dataBytes = 8000U * 2U * static_cast<std::uint32_t>(seconds);
  QByteArray wav;
  const auto word = [&wav](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) wav.append(static_cast<char>((value >> (8 * i)) & 0xFF));
  };
  wav.append("RIFF");
  word(36 + dataBytes, 4);
  wav.append("WAVEfmt ");
  word(16, 4);        // format chunk size
  word(1, 2);         // PCM
  word(1, 2);         // channels
  word(8000, 4);      // samples per second
  word(8000 * 2, 4);  // bytes per second
  word(2, 2);         // bytes per sample
  word(16, 2);        // bits per sample
  wav.append("data");
  word(dataBytes, 4);
  wav.append(QByteArray(static_cast<qsizetype>(dataBytes), '\0'));
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(wav) == wav.size();
}

TEST(RealPlayer, MpvPlayingAnUntaggedFileShowsItsNameSplitWithoutTheExtension) {
  const QString mpv = QStandardPaths::findExecutable(QStringLiteral("mpv"));
  if (mpv.isEmpty() || !QFile::exists(QString::fromLatin1(kMprisPlugin))) {
    GTEST_SKIP() << "mpv with mpv-mpris is not installed";
  }
  testing::PrivateBus bus;
  ASSERT_FALSE(bus.Address().isEmpty()) << "no dbus-daemon";
  QTemporaryDir dir;
  const QString song = dir.filePath(QStringLiteral("Some Artist - Some Song.wav"));
  ASSERT_TRUE(WriteSilence(song, 5));

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.Address());
  env.insert(QStringLiteral("HOME"), dir.path());  // no configuration of the user's
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
  QProcess player;  // killed on destruction
  player.setProcessEnvironment(env);
  player.setProcessChannelMode(QProcess::MergedChannels);
  player.start(mpv, {"--no-video", "--ao=null", "--loop-file=inf", "--no-terminal", song});
  ASSERT_TRUE(player.waitForStarted(10000));

  // Asked again until mpv has joined the bus and loaded the file, for 10 seconds at most.
  const std::string expected =
      "0 Player: MPRIS: mpv (org.mpris.MediaPlayer2.mpv)\nSome Artist|Some Song\n";
  std::string shown;
  const QDeadlineTimer deadline(10000);
  while (shown != expected && !deadline.hasExpired()) {
    QProcess quorvel;
    quorvel.setProcessEnvironment(env);
    quorvel.start(QUORVEL_BINARY, {"--prefs", dir.filePath(QStringLiteral("prefs.ini")),
                                   "--now-playing", "--player", "mpv", "%a|%s"});
    const bool done = quorvel.waitForFinished(5000);
    shown = std::to_string(done ? quorvel.exitCode() : -1) + " " +
            quorvel.readAllStandardOutput().toStdString() +
            quorvel.readAllStandardError().toStdString();
    if (shown != expected) QThread::msleep(200);
  }
  EXPECT_EQ(shown, expected) << player.readAll().toStdString();
  player.kill();
  player.waitForFinished(5000);
}

}  // namespace
}  // namespace quorvel
