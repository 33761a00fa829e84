#include "gui/tray_icon.h"

#include <QAction>

namespace quorvel {

TrayIcon::TrayIcon(const QIcon& icon, const QString& enableCaption, QObject* parent)
    : QObject(parent), icon_(icon, this) {
  icon_.setObjectName(QStringLiteral("trayIcon"));
  icon_.setToolTip(QStringLiteral("Quorvel"));
  menu_.setObjectName(QStringLiteral("trayMenu"));
  QAction* show = menu_.addAction(QStringLiteral("Show"), this, &TrayIcon::restoreRequested);
  show->setObjectName(QStringLiteral("showAction"));
  enableAction_ = menu_.addAction(enableCaption);
  enableAction_->setObjectName(QStringLiteral("enableAction"));
  enableAction_->setCheckable(true);
  connect(enableAction_, &QAction::triggered, this, &TrayIcon::enableRequested);
  menu_.addSeparator();
  QAction* quit = menu_.addAction(QStringLiteral("Quit"), this, &TrayIcon::quitRequested);
  quit->setObjectName(QStringLiteral("quitAction"));
  icon_.setContextMenu(&menu_);
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

void TrayIcon::SetToolTip(const QString& text) {
  if (icon_.toolTip() != text) icon_.setToolTip(text);
}

void TrayIcon::ShowEnabled(bool on) {
  enableAction_->setChecked(on);
}

void TrayIcon::Activated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:      // left button
    case QSystemTrayIcon::DoubleClick:  // comes with a release too
      emit restoreRequested();
      break;
    case QSystemTrayIcon::Context:  // right button: the menu opens
    case QSystemTrayIcon::MiddleClick:
    case QSystemTrayIcon::Unknown:
      break;
  }
}

}  // namespace quorvel
