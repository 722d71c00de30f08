#include "OriginConsent.h"

#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

namespace {
const QString kAllowedOrigins = QStringLiteral("consent/allowedOrigins");
// Bounds a file that a misbehaving caller could otherwise grow one origin at a time.
constexpr qsizetype kMaxRemembered = 500;
} // namespace

OriginConsent::OriginConsent()
    : OriginConsent(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                    QStringLiteral("/veltrane/signer.ini"))
{
}

OriginConsent::OriginConsent(QString settingsFile) : m_oSettingsFile(std::move(settingsFile)) {}

QString OriginConsent::keyOf(const QByteArray &origin)
{
    return origin.isEmpty() ? QStringLiteral("program:") : QString::fromUtf8(origin);
}

bool OriginConsent::isRemembered(const QByteArray &origin) const
{
    const QSettings settings(m_oSettingsFile, QSettings::IniFormat);
    return settings.value(kAllowedOrigins).toStringList().contains(keyOf(origin));
}

void OriginConsent::remember(const QByteArray &origin)
{
    QSettings settings(m_oSettingsFile, QSettings::IniFormat);
    QStringList allowed = settings.value(kAllowedOrigins).toStringList();
    if (allowed.contains(keyOf(origin)) || allowed.size() >= kMaxRemembered)
        return;
    allowed.append(keyOf(origin));
    settings.setValue(kAllowedOrigins, allowed);
}
