#pragma once

#include <QByteArray>
#include <QString>

// Which origins this user allowed, for good, to see the certificate listing. Kept in the
// module's per-user settings file, so one user's decision never opens another's keys.
// Main thread only (GUI commands run there).
class OriginConsent
{
public:
    // The per-user settings file of the signing module.
    OriginConsent();
    explicit OriginConsent(QString settingsFile);

    bool isRemembered(const QByteArray &origin) const;
    void remember(const QByteArray &origin);

private:
    // A local program sends no origin; a browser's origin always names a scheme, so this
    // cannot stand for a page.
    static QString keyOf(const QByteArray &origin);

    QString m_oSettingsFile;
};
