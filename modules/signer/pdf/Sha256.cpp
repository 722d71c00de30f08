#include "Sha256.h"

#include "core/SignerError.h"

namespace {

void require(bool done)
{
    if (!done)
        throw SignerError(SignerErrorCode::StoreError, QStringLiteral("The digest could not be computed."));
}

} // namespace

Sha256::Sha256() : m_context(EVP_MD_CTX_new())
{
    require(m_context && EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) == 1);
}

Sha256 Sha256::copy() const
{
    Sha256 other;
    require(EVP_MD_CTX_copy_ex(other.m_context.get(), m_context.get()) == 1);
    return other;
}

void Sha256::add(QByteArrayView bytes)
{
    require(EVP_DigestUpdate(m_context.get(), bytes.data(), static_cast<size_t>(bytes.size())) == 1);
}

QByteArray Sha256::result()
{
    QByteArray digest(EVP_MAX_MD_SIZE, '\0');
    unsigned int length = 0;
    require(EVP_DigestFinal_ex(m_context.get(), reinterpret_cast<unsigned char *>(digest.data()), &length) ==
            1);
    digest.truncate(length);
    return digest;
}
