#pragma once

#include "UniquePassSources.h"

#include <QByteArray>
#include <QString>

// The server's certificate and encrypted key as the TLS set-up takes them. They are read
// again whenever the files change and checked against this machine's pass phrase then, so
// a set that cannot serve is reported once per change, at error level and with the
// command that makes a new one, instead of every handshake failing without a word.
// Not thread-safe: the owner serialises the calls.
class ServerKeyFiles
{
public:
    enum class Problem
    {
        None,
        CertificateMissing,
        KeyMissing,
        CertificateUnreadable,
        KeyDoesNotOpen,
        KeyDoesNotMatch
    };

    ServerKeyFiles(UniquePassSources sources, QString repairCommand);

    // Reads and checks only when the files changed since the last call. True when both
    // files have content (whether or not they serve).
    bool refresh(const QString &certificatePath, const QString &keyPath);
    QByteArray certificate() const { return m_oCertificate; }
    QByteArray key() const { return m_oKey; }
    Problem problem() const { return m_eProblem; }
    // Counts the rereads, so that whatever is built from the files is rebuilt only on a change.
    quint64 generation() const { return m_iGeneration; }
    // This machine's pass phrase for the key; the caller wipes it after use.
    QByteArray passPhrase() const;

    static Problem check(const QByteArray &certificatePem, const QByteArray &keyPem,
                         const QByteArray &passPhrase);
    // The provisioning tool beside the server, run on the server's application directory.
    static QString repairCommand(const QString &toolDirectory, const QString &appDirectory);

private:
    void report(const QString &certificatePath, const QString &keyPath) const;

    const UniquePassSources m_oSources;
    const QString m_oRepairCommand;
    QByteArray m_oSignature;
    QByteArray m_oCertificate;
    QByteArray m_oKey;
    Problem m_eProblem = Problem::None;
    quint64 m_iGeneration = 0;
};
