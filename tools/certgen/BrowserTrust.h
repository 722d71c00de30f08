#pragma once

#include "Certutil.h"

#include <QList>
#include <QString>

class QTextStream;

// Adds the local authority to the certificate stores of the invoking user's browsers, or
// takes it out again: Chromium's shared NSS database (~/.pki/nssdb, created when missing)
// and every Firefox profile found (classic, snap and flatpak installs). Running it again
// changes nothing; a replaced authority is exchanged. Touches nothing outside HOME.
class BrowserTrust
{
public:
    enum class Action
    {
        Trust,
        Untrust
    };
    // Exit codes of "vyr-certgen --trust-browsers" / "--untrust-browsers".
    enum ExitCode
    {
        kDone = 0,        // every store found is as asked (also when no Firefox profile exists)
        kStoreFailed = 1, // certutil failed on at least one store; the others are done
        kNoCertutil = 3,  // certutil is not installed; nothing changed
        kNoAuthority = 4, // the authority's certificate is missing or unreadable; nothing changed
    };
    static constexpr char kNickname[] = "Veltrane Local Authority";

    struct Store
    {
        QString browser;
        QString directory; // the NSS database directory
    };

    // certutil: the program to run; empty when it is not installed.
    BrowserTrust(QString home, QString authorityFile, QString certutil);

    // Says what it did on out and what went wrong on err.
    int run(Action action, QTextStream &out, QTextStream &err) const;
    // After the authority was replaced: the new one goes wherever the replaced one was
    // trusted, so those browsers keep accepting the server; other stores stay as they are.
    int renew(const QByteArray &replacedAuthorityPem, QTextStream &out, QTextStream &err) const;

    static QString chromiumDatabase(const QString &home);
    // Where each kind of Firefox install keeps its profiles.
    static QStringList firefoxProfileRoots(const QString &home);
    // Profile directories holding an NSS database (cert9.db).
    static QList<Store> firefoxProfiles(const QString &home);

private:
    int trust(QTextStream &out, QTextStream &err) const;
    int untrust(QTextStream &out, QTextStream &err) const;
    QList<Store> existingStores(QTextStream &out) const;
    bool ensureChromiumDatabase(QTextStream &err) const;
    bool trustIn(const Store &store, QTextStream &out, QTextStream &err) const;
    bool untrustIn(const Store &store, QTextStream &out, QTextStream &err) const;
    bool holds(const Store &store, const QByteArray &authorityPem) const;
    void reportNoFirefox(QTextStream &out) const;

    QString m_oHome;
    QString m_oAuthorityFile;
    QString m_oCertutilProgram;
    Certutil m_oCertutil;
};
