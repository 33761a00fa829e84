#include "gui/tray_icon.h"

namespace quorvel {

TrayIcon::TrayIcon(const QIcon& icon, QObject* parent) : QObject(parent), icon_(icon, this) {
  icon_.setObjectName(QStringLiteral("trayIcon"));
  icon_.setToolTip(QStringLiteral(" Quorvel "));
  connect(&icon_, &QSystemTrayIcon::activated, this, &TrayIcon::Activated);
}

void TrayIcon::Add() {
  present_ = true;
  icon_.show();
}

void TrayIcon::Remove() {
  present_ = false;
  icon_.hide();
}

void TrayIcon::Activated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:      // left button
    case QSystemTrayIcon::Context:      // right button
    case QSystemTrayIcon::DoubleClick:  // comes with a release too
      emit restoreRequested();
      break;
    case QSystemTrayIcon::MiddleClick:
    case QSystemTrayIcon::Unknown:
      break;
  }
}

}  // namespace quorvel
