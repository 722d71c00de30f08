#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The NSS certificate database tool, run as a child process on one "sql:" database.
// Browsers on Linux keep their trusted authorities in such databases.
class Certutil
{
public:
    struct Run
    {
        bool ok = false;
        QByteArray output;
        QString error; // certutil's own words, or why it did not run
    };

    // The program found on PATH; empty when there is none.
    static QString locate();
    explicit Certutil(QString program);

    Run createEmptyDatabase(const QString &database) const;
    // The certificate stored under the nickname, as PEM; not ok when there is none.
    Run exportCertificate(const QString &database, const QString &nickname) const;
    // Trusted to identify web sites ("C,,").
    Run addAuthority(const QString &database, const QString &nickname, const QString &certificateFile) const;
    Run remove(const QString &database, const QString &nickname) const;

private:
    Run run(const QStringList &arguments) const;

    QString m_oProgram;
};
