#include "SignerCommands.h"

#include "CertificateJson.h"
#include "CmsSignature.h"
#include "KeyStores.h"
#include "SigningInput.h"
#include "UserConfirmation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
QByteArray originOf(const tRequestMap &request)
{
    return request.value(kVyrOriginKey);
}

// One item answers as "signature", a repeated parameter as "signatures" in the page's order.
QByteArray answer(const QList<QByteArray> &signatures, QJsonObject extra)
{
    if (signatures.size() == 1) {
        extra.insert(QStringLiteral("signature"), QString::fromLatin1(signatures.first().toBase64()));
    } else {
        QJsonArray array;
        for (const QByteArray &signature : signatures)
            array.append(QString::fromLatin1(signature.toBase64()));
        extra.insert(QStringLiteral("signatures"), array);
    }
    return QJsonDocument(extra).toJson(QJsonDocument::Compact);
}
} // namespace

namespace SignerCommands {

QByteArray listCertificates(const tRequestMap &request)
{
    UserConfirmation::allowListing(originOf(request));
    QList<CertificateEntry> entries;
    for (const std::unique_ptr<KeyStore> &store : openKeyStores())
        entries += store->list();
    return certificateListJson(entries);
}

QByteArray sign(const tRequestMap &request)
{
    const SigningInput input = SigningInput::read(request, SigningInput::Form::Raw);
    const KeyStoreList stores = openKeyStores();
    const std::unique_ptr<SigningKey> key = openKeyById(stores, input.id);
    const SignatureAlgorithm algorithm = algorithmForCertificate(key->certificate(), input.algorithm);
    UserConfirmation::unlockForSigning(originOf(request), input, *key);
    QList<QByteArray> signatures;
    for (const QByteArray &item : input.items)
        signatures.append(key->signDigest(algorithm, input.digest,
                                          input.itemsAreDigests ? item : digestOf(input.digest, item)));
    return answer(signatures,
                  {{QStringLiteral("algorithm"), QString::fromLatin1(algorithmName(algorithm))},
                   {QStringLiteral("certificate"), QString::fromLatin1(key->certificate().toBase64())}});
}

QByteArray signCms(const tRequestMap &request)
{
    const SigningInput input = SigningInput::read(request, SigningInput::Form::Cms);
    const KeyStoreList stores = openKeyStores();
    const std::unique_ptr<SigningKey> key = openKeyById(stores, input.id);
    const SignatureAlgorithm algorithm = algorithmForCertificate(key->certificate(), input.algorithm);
    UserConfirmation::unlockForSigning(originOf(request), input, *key);
    QList<QByteArray> signatures;
    for (const QByteArray &item : input.items)
        signatures.append(cmsSignature(*key, algorithm, item, input.detached));
    return answer(signatures, {});
}

} // namespace SignerCommands
