#pragma once

#include <QDBusMessage>
#include <QObject>
#include <functional>

#include "status_icon.h"

namespace morvane {

/// The desktop's colour scheme as the XDG desktop portal tells it (its setting
/// org.freedesktop.appearance color-scheme): asked once, without waiting for the answer, and
/// followed as the user changes it. Each answer goes to `changed`; a desktop without a portal,
/// or one that states no preference, leaves the scheme unknown.
class DesktopColorScheme : public QObject {
  Q_OBJECT

 public:
  using Changed = std::function<void(StatusIcon::Scheme)>;

  DesktopColorScheme(Changed changed, QObject* parent = nullptr);

  /// The portal's value: 1 prefers dark, 2 prefers light, anything else says nothing.
  static StatusIcon::Scheme fromPortalValue(uint value);

 public slots:
  /// A setting of the portal changed: its group, its key and its value.
  void settingChanged(const QDBusMessage& change);

 private:
  void take(const QVariant& value);

  Changed changed_;
};

}  // namespace morvane
