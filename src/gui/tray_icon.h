#pragma once
// The icon in the desktop's notification area: added and removed on request, and a click on it
// (left or right button, or a double-click) asks for the window to be restored.

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

namespace quorvel {

class TrayIcon : public QObject {
  Q_OBJECT

 public:
  TrayIcon(const QIcon& icon, QObject* parent = nullptr);

  void Add();
  void Remove();
  // True between Add and Remove.
  bool IsPresent() const { return present_; }

 signals:
  void restoreRequested();

 private:
  void Activated(QSystemTrayIcon::ActivationReason reason);

  QSystemTrayIcon icon_;
  bool present_ = false;
};

}  // namespace quorvel
