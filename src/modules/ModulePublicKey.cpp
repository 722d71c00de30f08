#include "ModulePublicKey.h"

#include "BuiltInModuleKey.h"
#include "ModuleSigningCrypto.h"

ModulePublicKey ModulePublicKey::builtIn()
{
    ModulePublicKey key;
    key.modulus.resize(static_cast<qsizetype>(kBuiltInModuleKeySize));
    for (std::size_t i = 0; i < kBuiltInModuleKeySize; ++i)
        key.modulus[static_cast<qsizetype>(i)] =
            static_cast<char>(kBuiltInModuleKeyMasked[i] ^ kBuiltInModuleKeyMask[i]);
    key.exponent = QByteArray("\x01\x00\x01", 3);
    return key;
}

ModulePublicKey ModulePublicKey::fromPemFile(const QString &path, QString *error)
{
    const auto key = ModuleSigningCrypto::readPublicKeyPem(path, error);
    if (!key)
        return {};
    return ModuleSigningCrypto::publicComponents(key.get(), error);
}
