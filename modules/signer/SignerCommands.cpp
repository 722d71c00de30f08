#include "SignerCommands.h"

#include "KeyStores.h"
#include "UserConfirmation.h"
#include "cms/CadesBuilder.h"
#include "core/CertificateFilter.h"
#include "core/CertificateListing.h"
#include "core/SignRequest.h"
#include "core/SignatureAlgorithms.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using vyr::signer::SignRequest;

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
    SignRequest input = vyr::signer::parseSignRequest(request, SignRequest::Form::Raw);
    const std::unique_ptr<SigningKey> key = moduleKeyStores().open(input.id);
    // Chosen before the dialog, so a key that cannot make this signature is refused before the
    // user is asked for anything.
    input.algorithm = vyr::signer::signatureAlgorithmFor(key->certificate(), input.algorithm);
    UserConfirmation::unlockForSigning(originOf(request), input, *key);
    return answer(vyr::signer::signDigests(*key, input),
                  {{QStringLiteral("algorithm"), vyr::signer::signatureName(*input.algorithm)},
                   {QStringLiteral("certificate"), QString::fromLatin1(key->certificate().toBase64())}});
}

QByteArray signCms(const tRequestMap &request)
{
    const SignRequest input = vyr::signer::parseSignRequest(request, SignRequest::Form::Cms);
    const std::unique_ptr<SigningKey> key = moduleKeyStores().open(input.id);
    const SignatureAlgorithm algorithm =
        vyr::signer::signatureAlgorithmFor(key->certificate(), input.algorithm);
    // Made before the dialog, for the same reason as above.
    CadesBuilder builder(*key, {input.detached, true, input.digest, algorithm});
    UserConfirmation::unlockForSigning(originOf(request), input, *key);
    return answer(builder.signEach(input.items), {});
}

} // namespace SignerCommands
