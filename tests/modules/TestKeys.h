#pragma once

#include "modules/ModulePublicKey.h"
#include "modules/OpenSslHandles.h"

#include <QByteArray>
#include <QString>

// A throw-away RSA key for signing crafted files in tests.
class TestKey
{
public:
    explicit TestKey(int bits = 2048);

    EVP_PKEY *get() const { return m_poKey.get(); }
    ModulePublicKey publicKey() const;
    QByteArray sign(const QByteArray &data) const;
    // PEM files for the signing tool.
    bool writePrivatePem(const QString &path) const;
    bool writePublicPem(const QString &path) const;

private:
    vyr::openssl::EvpPkeyPtr m_poKey;
};
