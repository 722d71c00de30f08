#include "SigningInput.h"

#include "core/SignerError.h"

#include <QCryptographicHash>
#include <algorithm>
#include <array>
#include <utility>

namespace {
// One confirmation covers the whole batch; a page has no business asking for more at once.
constexpr qsizetype kMaxItems = 1000;
constexpr qsizetype kMaxTotalBytes = qsizetype{64} * 1024 * 1024;
constexpr qsizetype kMaxIdLength = 256;

const std::array<std::pair<const char *, DigestAlgorithm>, 3> kDigests{
    {{"SHA-256", DigestAlgorithm::Sha256},
     {"SHA-384", DigestAlgorithm::Sha384},
     {"SHA-512", DigestAlgorithm::Sha512}}};
const std::array<std::pair<const char *, SignatureAlgorithm>, 3> kSignatures{
    {{"RSA-PKCS1", SignatureAlgorithm::RsaPkcs1v15},
     {"RSA-PSS", SignatureAlgorithm::RsaPss},
     {"ECDSA", SignatureAlgorithm::Ecdsa}}};

QCryptographicHash::Algorithm qtAlgorithm(DigestAlgorithm algorithm)
{
    switch (algorithm) {
    case DigestAlgorithm::Sha384:
        return QCryptographicHash::Sha384;
    case DigestAlgorithm::Sha512:
        return QCryptographicHash::Sha512;
    case DigestAlgorithm::Sha256:
        break;
    }
    return QCryptographicHash::Sha256;
}

[[noreturn]] void badInput(const QString &message)
{
    throw SignerError(SignerErrorCode::BadInput, message);
}

template <typename Table>
auto lookUp(const Table &table, const QByteArray &name, SignerErrorCode code, const QString &what)
{
    const auto found =
        std::find_if(table.begin(), table.end(), [&](const auto &row) { return name == row.first; });
    if (found == table.end())
        throw SignerError(code, QStringLiteral("Unsupported %1.").arg(what));
    return found->second;
}

// Repeated parameters in the order the page wrote them (the map hands back the newest first).
QList<QByteArray> inPageOrder(const tRequestMap &request, const QByteArray &name)
{
    QList<QByteArray> values = request.values(name);
    std::reverse(values.begin(), values.end());
    return values;
}

QList<QByteArray> decodedItems(const QList<QByteArray> &encoded, const char *name)
{
    if (encoded.size() > kMaxItems)
        badInput(QStringLiteral("At most %1 items may be signed at once.").arg(kMaxItems));
    QList<QByteArray> items;
    qsizetype total = 0;
    for (const QByteArray &text : encoded) {
        const auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.isEmpty())
            badInput(QStringLiteral("Each \"%1\" must be non-empty base64.").arg(QLatin1String(name)));
        total += decoded.decoded.size();
        if (total > kMaxTotalBytes)
            badInput(QStringLiteral("The items are too large to sign at once."));
        items.append(decoded.decoded);
    }
    return items;
}

void readItems(const tRequestMap &request, SigningInput::Form form, SigningInput &input)
{
    const QList<QByteArray> data = inPageOrder(request, "data");
    const QList<QByteArray> digests =
        form == SigningInput::Form::Raw ? inPageOrder(request, "digest") : QList<QByteArray>();
    if (data.isEmpty() == digests.isEmpty())
        badInput(QStringLiteral("Give either \"data\" or \"digest\", one or more times."));
    input.itemsAreDigests = !digests.isEmpty();
    input.items =
        decodedItems(input.itemsAreDigests ? digests : data, input.itemsAreDigests ? "digest" : "data");
    for (const QByteArray &digest : input.itemsAreDigests ? input.items : QList<QByteArray>()) {
        if (digest.size() != digestLength(input.digest))
            badInput(QStringLiteral("A \"digest\" does not have the length of its \"digestAlgorithm\"."));
    }
}
} // namespace

SigningInput SigningInput::read(const tRequestMap &request, Form form)
{
    SigningInput input;
    input.id = request.value("id");
    if (input.id.isEmpty() || input.id.size() > kMaxIdLength)
        badInput(QStringLiteral("\"id\" must name a certificate from the listing."));
    if (request.contains("digestAlgorithm"))
        input.digest = lookUp(kDigests, request.value("digestAlgorithm"),
                              SignerErrorCode::AlgorithmUnsupported, QStringLiteral("digestAlgorithm"));
    if (request.contains("algorithm"))
        input.algorithm = lookUp(kSignatures, request.value("algorithm"),
                                 SignerErrorCode::AlgorithmUnsupported, QStringLiteral("algorithm"));
    const QByteArray detached = request.value("detached", "true");
    if (detached != "true" && detached != "false")
        badInput(QStringLiteral("\"detached\" is true or false."));
    input.detached = detached == "true";
    input.description = request.value("description");
    readItems(request, form, input);
    return input;
}

qsizetype digestLength(DigestAlgorithm algorithm)
{
    return QCryptographicHash::hashLength(qtAlgorithm(algorithm));
}

QByteArray digestOf(DigestAlgorithm algorithm, const QByteArray &data)
{
    return QCryptographicHash::hash(data, qtAlgorithm(algorithm));
}

QByteArray algorithmName(SignatureAlgorithm algorithm)
{
    for (const auto &[name, value] : kSignatures) {
        if (value == algorithm)
            return name;
    }
    return {};
}
