#include <QCoreApplication>

#include "app/command_line.h"

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("quorvel"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
  quorvel::ParseCommandLine(QCoreApplication::arguments());
  return 0;
}
