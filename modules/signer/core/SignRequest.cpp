#include "SignRequest.h"

#include "SignatureAlgorithms.h"
#include "SignerError.h"

#include <algorithm>

namespace vyr::signer {
namespace {

[[noreturn]] void badInput(const QString &message)
{
    throw SignerError(SignerErrorCode::BadInput, message);
}

template <typename Algorithm> Algorithm named(std::optional<Algorithm> algorithm, const char *parameter)
{
    if (!algorithm)
        throw SignerError(SignerErrorCode::AlgorithmUnsupported,
                          QStringLiteral("Unsupported %1.").arg(QLatin1String(parameter)));
    return *algorithm;
}

// Repeated parameters in the order the page wrote them (the map hands back the newest first).
QList<QByteArray> inPageOrder(const tRequestMap &request, const char *name)
{
    QList<QByteArray> values = request.values(name);
    std::reverse(values.begin(), values.end());
    return values;
}

// Bounded on the encoded size before anything is decoded.
QList<QByteArray> decodedItems(const QList<QByteArray> &encoded, const char *name)
{
    if (encoded.size() > SignRequest::kMaxItems)
        badInput(QStringLiteral("At most %1 items may be signed at once.").arg(SignRequest::kMaxItems));
    QList<QByteArray> items;
    qsizetype total = 0;
    for (const QByteArray &text : encoded) {
        total += text.size() / 4 * 3;
        if (total > SignRequest::kMaxTotalBytes)
            badInput(QStringLiteral("The items are too large to sign at once."));
        const auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.isEmpty())
            badInput(QStringLiteral("Each \"%1\" must be non-empty base64.").arg(QLatin1String(name)));
        items.append(decoded.decoded);
    }
    return items;
}

void readItems(const tRequestMap &request, SignRequest::Form form, SignRequest &parsed)
{
    const QList<QByteArray> data = inPageOrder(request, "data");
    const QList<QByteArray> digests =
        form == SignRequest::Form::Raw ? inPageOrder(request, "digest") : QList<QByteArray>();
    if (data.isEmpty() == digests.isEmpty())
        badInput(QStringLiteral("Give either \"data\" or \"digest\", one or more times."));
    parsed.itemsAreDigests = !digests.isEmpty();
    parsed.items =
        decodedItems(parsed.itemsAreDigests ? digests : data, parsed.itemsAreDigests ? "digest" : "data");
    for (const QByteArray &digest : parsed.itemsAreDigests ? parsed.items : QList<QByteArray>()) {
        if (digest.size() != digestLength(parsed.digest))
            badInput(QStringLiteral("A \"digest\" does not have the length of its \"digestAlgorithm\"."));
    }
}

} // namespace

SignRequest parseSignRequest(const tRequestMap &request, SignRequest::Form form)
{
    SignRequest parsed;
    parsed.id = request.value("id");
    if (parsed.id.isEmpty() || parsed.id.size() > SignRequest::kMaxIdLength)
        badInput(QStringLiteral("\"id\" must name a certificate from the listing."));
    if (request.contains("digestAlgorithm"))
        parsed.digest = named(digestFromName(request.value("digestAlgorithm")), "digestAlgorithm");
    if (request.contains("algorithm"))
        parsed.algorithm = named(signatureFromName(request.value("algorithm")), "algorithm");
    const QByteArray detached = request.value("detached", "true");
    if (detached != "true" && detached != "false")
        badInput(QStringLiteral("\"detached\" is true or false."));
    parsed.detached = detached == "true";
    parsed.description = request.value("description");
    readItems(request, form, parsed);
    return parsed;
}

QList<QByteArray> signDigests(SigningKey &key, const SignRequest &request)
{
    const SignatureAlgorithm algorithm = signatureAlgorithmFor(key.certificate(), request.algorithm);
    QList<QByteArray> digests;
    digests.reserve(request.items.size());
    for (const QByteArray &item : request.items)
        digests.append(request.itemsAreDigests ? item : computeDigest(request.digest, item));
    return key.signDigests(algorithm, request.digest, digests);
}

} // namespace vyr::signer
