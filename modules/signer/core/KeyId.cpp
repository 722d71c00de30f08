#include "KeyId.h"

#include <QCryptographicHash>

namespace vyr::signer {
namespace {

constexpr qsizetype kIdLength = 64; // SHA-256 in hexadecimal

void addField(QCryptographicHash &hash, const QByteArray &field)
{
    // Length first, so that no two different field lists hash the same bytes.
    hash.addData(QByteArray::number(field.size()) + ':');
    hash.addData(field);
}

} // namespace

QByteArray makeKeyId(const QByteArray &storeKind, const QByteArray &location,
                     const QByteArray &certificateDer)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    addField(hash, storeKind);
    addField(hash, location);
    addField(hash, certificateDer);
    return hash.result().toHex();
}

bool looksLikeKeyId(const QByteArray &text)
{
    if (text.size() != kIdLength)
        return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace vyr::signer
