#pragma once

#include "CertGenOptions.h"

#include <QString>
#include <QStringList>
#include <openssl/types.h>

class CertificateAuthority;

// Provisions this machine's TLS files for the server: a local authority (reused when it
// exists) and a loopback server certificate whose key is encrypted with the machine's
// pass phrase. Throws CertGenException on failure.
class CertGenerator
{
public:
    enum class SeedState
    {
        Present,
        Created,
        MissingUnprivileged
    };
    enum class Outcome
    {
        Written,
        Refused
    };

    // Where the server looks for its files, as the INI in the application directory says.
    struct Targets
    {
        QString certificate;
        QString key;
        QString authorityCopy;
        QStringList existing() const;
        // As they are replaced together: the key first, as the server reads them.
        QStringList set() const { return {key, certificate, authorityCopy}; }
    };

    struct Result
    {
        Outcome outcome = Outcome::Refused;
        SeedState seed = SeedState::Present;
        bool authorityCreated = false;
        QByteArray replacedAuthority; // the certificate of an authority that could sign for any name
        QString authorityCertificate; // the copy beside the server's files
        QStringList written;
        QStringList existing; // why a run was refused
    };

    explicit CertGenerator(CertGenOptions options);

    // Finishes or drops what an interrupted run left, then refuses, changing nothing else,
    // when a target exists and force is not set, unless the authority must be replaced.
    Result run() const;

    static Targets targets(const QString &appDir);
    // Creates the machine seed when missing and privileged; throws when that fails.
    static SeedState ensureSeed(const QString &seedPath, bool privileged);

private:
    void writeServerFiles(const CertificateAuthority &authority, const Targets &targets,
                          Result &result) const;
    QByteArray encryptedServerKey(EVP_PKEY *key) const;

    CertGenOptions m_oOptions;
};
