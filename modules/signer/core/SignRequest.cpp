#include "SignRequest.h"

#include "SignatureAlgorithms.h"
#include "SignerError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace vyr::signer {
namespace {

[[noreturn]] void badInput(const QString &message)
{
    throw SignerError(SignerErrorCode::BadInput, message);
}

QByteArray decodeItem(const QByteArray &text, const char *parameter)
{
    // A page may send either alphabet; both decode strictly.
    for (const auto alphabet : {QByteArray::Base64Encoding, QByteArray::Base64UrlEncoding}) {
        const auto decoded =
            QByteArray::fromBase64Encoding(text, alphabet | QByteArray::AbortOnBase64DecodingErrors);
        if (decoded)
            return *decoded;
    }
    badInput(QStringLiteral("%1: not base64.").arg(QLatin1String(parameter)));
}

// The request map keeps repeated parameters newest first; the page's order is the reverse.
QList<QByteArray> itemsInOrder(const tRequestMap &request, const char *parameter)
{
    QList<QByteArray> texts = request.values(parameter);
    std::reverse(texts.begin(), texts.end());
    if (texts.size() > SignRequest::kMaxItems)
        badInput(QStringLiteral("At most %1 items in one request.").arg(SignRequest::kMaxItems));
    qsizetype total = 0;
    QList<QByteArray> items;
    for (const QByteArray &text : texts) {
        total += text.size() / 4 * 3;
        if (total > SignRequest::kMaxTotalBytes)
            badInput(QStringLiteral("At most %1 bytes in one request.").arg(SignRequest::kMaxTotalBytes));
        items.append(decodeItem(text, parameter));
        if (items.last().isEmpty())
            badInput(QStringLiteral("%1: an item is empty.").arg(QLatin1String(parameter)));
    }
    return items;
}

void parseAlgorithms(const tRequestMap &request, SignRequest &parsed)
{
    const QByteArray algorithm = request.value("algorithm");
    if (algorithm.isEmpty())
        badInput(QStringLiteral("algorithm: missing (RSA-PKCS1, RSA-PSS or ECDSA)."));
    const std::optional<SignatureAlgorithm> signature = signatureFromName(algorithm);
    if (!signature)
        throw SignerError(SignerErrorCode::AlgorithmUnsupported,
                          QStringLiteral("algorithm: one of RSA-PKCS1, RSA-PSS, ECDSA."));
    parsed.algorithm = *signature;
    const std::optional<DigestAlgorithm> digest = digestFromName(request.value("digestAlgorithm", "SHA-256"));
    if (!digest)
        throw SignerError(SignerErrorCode::AlgorithmUnsupported,
                          QStringLiteral("digestAlgorithm: one of SHA-256, SHA-384, SHA-512."));
    parsed.digestAlgorithm = *digest;
}

} // namespace

SignRequest parseSignRequest(const tRequestMap &request)
{
    SignRequest parsed;
    parsed.id = request.value("id");
    if (parsed.id.isEmpty())
        badInput(QStringLiteral("id: missing; take it from the certificate listing."));
    parseAlgorithms(request, parsed);
    const bool hasData = request.contains("data");
    parsed.itemsAreDigests = request.contains("digest");
    if (hasData == parsed.itemsAreDigests)
        badInput(QStringLiteral("Give either data or digest."));
    parsed.items = itemsInOrder(request, parsed.itemsAreDigests ? "digest" : "data");
    for (const QByteArray &item : parsed.items) {
        if (parsed.itemsAreDigests)
            requireDigestLength(parsed.digestAlgorithm, item);
        parsed.digests.append(parsed.itemsAreDigests ? item : computeDigest(parsed.digestAlgorithm, item));
    }
    parsed.batch = parsed.items.size() > 1;
    return parsed;
}

QList<QByteArray> signDigests(SigningKey &key, const SignRequest &request)
{
    return key.signDigests(request.algorithm, request.digestAlgorithm, request.digests);
}

QByteArray signAnswer(const SignRequest &request, const QList<QByteArray> &signatures,
                      const QByteArray &certificate)
{
    QJsonObject answer;
    if (request.batch) {
        QJsonArray list;
        for (const QByteArray &signature : signatures)
            list.append(QString::fromLatin1(signature.toBase64()));
        answer.insert(QStringLiteral("signatures"), list);
    } else {
        answer.insert(QStringLiteral("signature"), QString::fromLatin1(signatures.value(0).toBase64()));
        answer.insert(QStringLiteral("algorithm"), signatureName(request.algorithm));
        answer.insert(QStringLiteral("certificate"), QString::fromLatin1(certificate.toBase64()));
    }
    return QJsonDocument(answer).toJson(QJsonDocument::Compact);
}

} // namespace vyr::signer
