#pragma once

#include <QString>
#include <optional>

// What vyr-sign-module does to one module file.
class ModuleSigner
{
public:
    struct Outcome
    {
        bool success = false;
        QString message;
    };

    // Appends the signature block made with the PEM private key. Refuses a file that
    // already carries a block, and a PE file with a certificate table.
    static Outcome sign(const QString &modulePath, const QString &privateKeyPath);
    // Checks the block against the PEM public key, or the key compiled into this build.
    static Outcome verify(const QString &modulePath, const std::optional<QString> &publicKeyPath);

private:
    static std::optional<QString> refusalToSign(const QString &modulePath, const QByteArray &bytes);
    static Outcome append(const QString &modulePath, const QByteArray &bytes);
};
