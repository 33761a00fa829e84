#pragma once
// Runs the quorvel program as a child process and waits for what it says, every wait bounded.

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <string>

namespace quorvel::testing {

inline constexpr int kProgramWaitMs = 10000;

// A running `quorvel` whose standard error is collected as it comes; killed if still running.
struct RunningProgram {
  explicit RunningProgram(
      const QStringList& arguments, const QString& program = QUORVEL_BINARY,
      const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    process.setProcessEnvironment(environment);
    process.setReadChannel(QProcess::StandardError);
    process.start(program, arguments);
  }
  ~RunningProgram() {
    process.kill();  // nothing to kill once it has ended
    Finish();
  }

  // The port of "Listening on address:port" once standard error says it, or 0 when the program
  // ends or the time is up first.
  int ListeningPort() {
    const QDeadlineTimer deadline(kProgramWaitMs);
    const std::string said = "Listening on ";
    const auto line = [&] { return err.find('\n', err.find(said)) != std::string::npos; };
    while (!line() && process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
      process.waitForReadyRead(static_cast<int>(std::min<qint64>(deadline.remainingTime(), 200)));
      err += process.readAllStandardError().toStdString();
    }
    err += process.readAllStandardError().toStdString();
    return line() ? std::stoi(err.substr(err.find(':', err.find(said)) + 1)) : 0;
  }
  // Sends SIGTERM and waits for the end; the exit status, or -1 when it did not end normally.
  int Terminate() {
    process.terminate();
    return Finish();
  }
  int Finish() {
    const bool ended = process.waitForFinished(kProgramWaitMs);
    err += process.readAllStandardError().toStdString();
    return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }

  QProcess process;
  std::string err;
};

}  // namespace quorvel::testing
