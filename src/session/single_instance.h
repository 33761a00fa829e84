#pragma once
// One running program per settings file, so that two of them never fight over its port and its
// file. The first start claims the file: a lock file, and a local socket on which it answers later
// starts, both named after the file's canonical path (and the user) in the temporary folder. A
// later start asks it to show its window, or how it runs, and then ends.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorvel {

// What a running program tells a later start about itself.
struct RunningInstance {
  bool hasWindow = false;
  std::string address;   // the listener's address
  std::uint16_t port{};  // the port it listens on; 0 when it does not listen
};

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  enum class Request { kShow, kStatus };

  // How long a later start waits for the first one to answer.
  static constexpr int kAnswerWaitMs = 5000;

  explicit SingleInstance(const QString& settingsPath, QObject* parent = nullptr);
  ~SingleInstance() override;

  // Claims the settings file for this process. False when another running program holds it.
  // A lock left by a program that died is taken over. When the lock cannot be made at all (no
  // temporary folder to write in), the program runs unguarded: that is no reason to refuse it.
  bool Claim();

  // What the first start answers about itself; asked at each request.
  void SetDescription(std::function<RunningInstance()> describe);

  // From a later start: asks the program that holds the file, running the event loop while it
  // waits. Nothing when no answer came within `waitMs`.
  std::optional<RunningInstance> AskHolder(Request request, int waitMs = kAnswerWaitMs);

 signals:
  // A later start asked for the window.
  void showRequested();

 private:
  void Answer();

  QString key_;
  QLockFile lock_;
  std::unique_ptr<QLocalServer> server_;
  std::function<RunningInstance()> describe_;
};

}  // namespace quorvel
