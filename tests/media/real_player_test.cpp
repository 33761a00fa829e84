// A real MPRIS player: Debian's mpv with its MPRIS plugin, run without sound or picture on a
// private bus, playing a file that has no tags. Skipped where those packages are not installed.

#include <gtest/gtest.h>

#include <QDataStream>
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
  const quint32 dataBytes = 8000U * 2U * static_cast<quint32>(seconds);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  QDataStream out(&file);
  out.setByteOrder(QDataStream::LittleEndian);
  out.writeRawData("RIFF", 4);
  out << quint32(36 + dataBytes);
  out.writeRawData("WAVEfmt ", 8);
  // Format chunk size, PCM, channels, samples and bytes per second, bytes and bits per sample.
  out << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(16000) << quint16(2)
      << quint16(16);
  out.writeRawData("data", 4);
  out << dataBytes;
  return file.write(QByteArray(static_cast<qsizetype>(dataBytes), '\0')) == dataBytes;
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
