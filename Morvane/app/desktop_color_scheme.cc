#include "desktop_color_scheme.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace morvane {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");

/// The value inside however many variants the portal wrapped it in (older portals answer Read
/// with a variant holding a variant).
QVariant unwrapped(QVariant value) {
  while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
    value = value.value<QDBusVariant>().variant();
  return value;
}

}  // namespace

DesktopColorScheme::DesktopColorScheme(Changed changed, QObject* parent)
    : QObject(parent), changed_(std::move(changed)) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    return;
  bus.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
              SLOT(settingChanged(QDBusMessage)));
  QDBusMessage read =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
  read << kNamespace << kKey;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
    call->deleteLater();
    QDBusPendingReply<QDBusVariant> reply = *call;
    if (!reply.isError())
      take(reply.argumentAt<0>().variant());
  });
}

StatusIcon::Scheme DesktopColorScheme::fromPortalValue(uint value) {
  switch (value) {
    case 1:
      return StatusIcon::Scheme::dark;
    case 2:
      return StatusIcon::Scheme::light;
    default:
      return StatusIcon::Scheme::unknown;
  }
}

void DesktopColorScheme::settingChanged(const QDBusMessage& change) {
  const QList<QVariant> arguments = change.arguments();
  if (arguments.size() == 3 && arguments[0].toString() == kNamespace &&
      arguments[1].toString() == kKey)
    take(arguments[2]);
}

void DesktopColorScheme::take(const QVariant& value) {
  const QVariant plain = unwrapped(value);
  bool number = false;
  const uint scheme = plain.toUInt(&number);
  if (changed_)
    changed_(number ? fromPortalValue(scheme) : StatusIcon::Scheme::unknown);
}

}  // namespace morvane
