// A stand-alone MPRIS test player on the session bus (DBUS_SESSION_BUS_ADDRESS), for tests that
// run the program itself. Prints "ready" once its name is on the bus; runs until killed.
//   test_mpris_player [--name N] [--status S] [--artist A]... [--title T] [--position-us U]
//                     [--length-us U] [--silent]
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <cstdio>

#include "test_mpris_service.h"

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  using quorvel::testing::TestMprisObject;
  quorvel::testing::TestPlayerState state;
  QString name = QStringLiteral("testplayer");
  const QStringList args = QCoreApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& arg = args[i];
    const QString value = i + 1 < args.size() ? args[i + 1] : QString();
    if (arg == QLatin1String("--silent")) {
      state.silent = true;
      continue;
    }
    ++i;
    if (arg == QLatin1String("--name")) {
      name = value;
    } else if (arg == QLatin1String("--status")) {
      state.status = value;
    } else if (arg == QLatin1String("--artist")) {
      state.artists.append(value);
    } else if (arg == QLatin1String("--title")) {
      state.title = value;
    } else if (arg == QLatin1String("--position-us")) {
      state.positionUs = value.toLongLong();
    } else if (arg == QLatin1String("--length-us")) {
      state.lengthUs = value.toLongLong();
    } else {
      std::fprintf(stderr, "unknown argument %s\n", qPrintable(arg));
      return 2;
    }
  }

  QDBusConnection bus = QDBusConnection::sessionBus();
  TestMprisObject object(state);
  if (!bus.registerVirtualObject(QLatin1String(quorvel::testing::kMprisPath), &object) ||
      !bus.registerService(QStringLiteral("org.mpris.MediaPlayer2.") + name)) {
    std::fprintf(stderr, "cannot register on the session bus: %s\n",
                 qPrintable(bus.lastError().message()));
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return QCoreApplication::exec();
}
