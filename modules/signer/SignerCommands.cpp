#include "SignerCommands.h"

#include "CertificateJson.h"
#include "KeyStores.h"
#include "SigningInput.h"
#include "UserConfirmation.h"
#include "cms/CadesBuilder.h"
#include "core/CertificateFilter.h"
#include "core/CertificateListing.h"

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
    return vyr::signer::certificateListJson(moduleKeyStores().list(),
                                            vyr::signer::CertificateFilter::fromRequest(request));
}

QByteArray sign(const tRequestMap &request)
{
    const SigningInput input = SigningInput::read(request, SigningInput::Form::Raw);
    const std::unique_ptr<SigningKey> key = moduleKeyStores().open(input.id);
    const SignatureAlgorithm algorithm = algorithmForCertificate(key->certificate(), input.algorithm);
    UserConfirmation::unlockForSigning(originOf(request), input, *key);
    QList<QByteArray> digests;
    for (const QByteArray &item : input.items)
        digests.append(input.itemsAreDigests ? item : digestOf(input.digest, item));
    const QList<QByteArray> signatures = key->signDigests(algorithm, input.digest, digests);
    return answer(signatures,
                  {{QStringLiteral("algorithm"), QString::fromLatin1(algorithmName(algorithm))},
                   {QStringLiteral("certificate"), QString::fromLatin1(key->certificate().toBase64())}});
}

QByteArray signCms(const tRequestMap &request)
{
    const SigningInput input = SigningInput::read(request, SigningInput::Form::Cms);
    const std::unique_ptr<SigningKey> key = moduleKeyStores().open(input.id);
    const SignatureAlgorithm algorithm = algorithmForCertificate(key->certificate(), input.algorithm);
    // Made before the dialog, so a key that cannot make this signature is refused before the
    // user is asked for anything.
    CadesBuilder builder(*key, {input.detached, true, input.digest, algorithm});
    UserConfirmation::unlockForSigning(originOf(request), input, *key);
    return answer(builder.signEach(input.items), {});
}

} // namespace SignerCommands
