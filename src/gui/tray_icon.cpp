#include "gui/tray_icon.h"

namespace quorvel {

SysTray::SysTray(const QIcon& icon, QObject* parent) : QObject(parent), icon_(icon, this) {
  icon_.setObjectName(QStringLiteral("SysTray"));
  icon_.setToolTip(QStringLiteral(" Quorvel "));
  connect(&icon_, &QSystemTrayIcon::activated, this, &SysTray::Activated);
}

void SysTray::Add() {
  present_ = true;
  icon_.show();
}

void SysTray::Remove() {
  present_ = false;
  icon_.hide();
}

void SysTray::Activated(QSystemTrayIcon::ActivationReason reason) {
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
