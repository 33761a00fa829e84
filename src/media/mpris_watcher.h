#pragma once
// Watches the MPRIS players on a bus: players coming and going, and their track and play state
// changes, each folded over a short delay into one call of the program's PlayerWatch.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <functional>
#include <optional>

#include "media/media_player.h"

namespace quorvel {

// How long a burst of changes is gathered before the program hears of it. Players send several
// signals for one new track; the profile is to follow within about 300 ms.
inline constexpr int kChangeDelayMs = 100;

class MprisWatcher final : public QObject {
  Q_OBJECT

 public:
  // Whether a change of track or play state reported by the connection `owner` concerns the
  // program. `newStatus`: the new play state (kPlay*, -1 for another), when it changed.
  using Filter = std::function<bool(const QString& owner, std::optional<int> newStatus)>;

  MprisWatcher(QDBusConnection bus, PlayerWatch watch, Filter filter);
  ~MprisWatcher() override;

 private slots:
  void OnPropertiesChanged(const QString& interfaceName, const QVariantMap& changed,
                           const QStringList& invalidated, const QDBusMessage& message);

 private:
  QDBusConnection bus_;
  Filter filter_;
  QDBusServiceWatcher services_;
  QTimer playersTimer_;
  QTimer playbackTimer_;
};

}  // namespace quorvel
