#pragma once

#include <QByteArray>
#include <QString>

// An RSA public key as the verifier takes it: big-endian modulus and exponent bytes.
struct ModulePublicKey
{
    QByteArray modulus;
    QByteArray exponent;

    bool isValid() const { return !modulus.isEmpty() && !exponent.isEmpty(); }

    // The key compiled into this build, unmasked on each call.
    static ModulePublicKey builtIn();
    // Empty key on failure; the reason goes to error.
    static ModulePublicKey fromPemFile(const QString &path, QString *error = nullptr);
};
