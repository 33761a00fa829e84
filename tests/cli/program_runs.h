#pragma once
// Runs the quorvel program as a child process and waits for what it says, every wait bounded.

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <string>

namespace quorvel::testing {

inline constexpr int kProgramWaitMs = 10000;

// A running `quorvel` whose standard error is collected as it comes.
struct RunningProgram {
  explicit RunningProgram(
      const QStringList& arguments, const QString& program = QUORVEL_BINARY,
      const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    process.setProcessEnvironment(environment);
    process.setReadChannel(QProcess::StandardError);
    process.start(program, arguments);
  }
  ~RunningProgram() {
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished(kProgramWaitMs);
    }
  }

  // Waits until standard error holds `text`, or the program ends, or the time is up.
  bool SaysOnStderr(const std::string& text, int ms = kProgramWaitMs) {
    QDeadlineTimer deadline(ms);
    while (err.find(text) == std::string::npos && !deadline.hasExpired()) {
      if (!process.waitForReadyRead(
              static_cast<int>(std::min<qint64>(deadline.remainingTime(), 200))) &&
          process.state() == QProcess::NotRunning) {
        break;
      }
      err += process.readAllStandardError().toStdString();
    }
    err += process.readAllStandardError().toStdString();
    return err.find(text) != std::string::npos;
  }
  // The port of "Listening on address:port", or 0.
  int ListeningPort() {
    if (!SaysOnStderr("Listening on ") || !SaysOnStderr("\n")) return 0;
    const std::size_t at = err.find("Listening on ");
    return std::stoi(err.substr(err.find(':', at + 13) + 1));
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
