#pragma once
// The icon in the desktop's notification area: added and removed on request; a click on it (left
// button, or a double-click) asks for the window to be restored; its context menu offers Show,
// the enable switch and Quit.

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

class QAction;

namespace quorvel {

class TrayIcon : public QObject {
  Q_OBJECT

 public:
  // `enableCaption` names the enable switch in the menu, as the window names it.
  TrayIcon(const QIcon& icon, const QString& enableCaption, QObject* parent = nullptr);

  void Add();
  void Remove();
  // True between Add and Remove.
  bool IsPresent() const { return present_; }

  void SetToolTip(const QString& text);
  // The menu's check mark follows the window's enable switch.
  void ShowEnabled(bool on);

 signals:
  void restoreRequested();
  void enableRequested(bool on);
  void quitRequested();

 private:
  void Activated(QSystemTrayIcon::ActivationReason reason);

  QMenu menu_;  // outlives the icon that shows it
  QAction* enableAction_ = nullptr;
  QSystemTrayIcon icon_;
  bool present_ = false;
};

}  // namespace quorvel
