#pragma once

#include "ModulePublicKey.h"
#include "common/OpenSslHandles.h"

#include <QByteArray>
#include <QString>
#include <optional>

// RSA PKCS#1 v1.5 with SHA-256, the one scheme of module signatures, over OpenSSL's EVP
// interface. Failures answer empty values; functions taking an error pointer say why.
class ModuleSigningCrypto
{
public:
    static vyr::openssl::EvpPkeyPtr publicKeyFromComponents(const QByteArray &modulus,
                                                            const QByteArray &exponent);
    static ModulePublicKey publicComponents(EVP_PKEY *key, QString *error = nullptr);

    static vyr::openssl::EvpPkeyPtr readPrivateKeyPem(const QString &path, QString *error = nullptr);
    static vyr::openssl::EvpPkeyPtr readPublicKeyPem(const QString &path, QString *error = nullptr);

    static int keyBits(EVP_PKEY *key);
    static QByteArray sign(EVP_PKEY *key, const QByteArray &data, QString *error = nullptr);
    // True only when OpenSSL answers exactly 1.
    static bool verify(EVP_PKEY *key, const QByteArray &data, const QByteArray &signature);

private:
    static QString takeOpenSslErrors();
    static std::optional<QByteArray> readFile(const QString &path, QString *error);
};
