#include "KeyStores.h"
#include "PdfDocumentInfo.h"
#include "PdfSigner.h"
#include "SignedDocumentReply.h"
#include "SignerCommands.h"
#include "UserConfirmation.h"
#include "cms/CadesBuilder.h"
#include "core/SignRequest.h"
#include "core/SignatureAlgorithms.h"
#include "core/SignerError.h"

#include <QList>
#include <cmath>

namespace {
constexpr char kField[] = "document";
// A document sent inline travels in the request's memory several times over; larger ones
// come as a file upload, which the server spools to disk.
constexpr qsizetype kMaxInlineBytes = qsizetype{16} * 1024 * 1024;
constexpr qsizetype kMaxTextBytes = 4096;

[[noreturn]] void badInput(const QString &message)
{
    throw SignerError(SignerErrorCode::BadInput, message);
}

struct PdfRequest
{
    QByteArray id;
    std::optional<SignatureAlgorithm> algorithm;
    QByteArray fileName;
    PdfSignatureOptions options;
    QByteArray description;
};

// The upload the server names, else the inline base64; never a path from a parameter.
PdfInput documentOf(const tRequestMap &request, QByteArray &fileName)
{
    const QByteArray path = request.value(QByteArray(kVyrUploadedFilePrefix) + kField);
    if (!path.isEmpty()) {
        fileName = request.value(QByteArray(kVyrUploadedNamePrefix) + kField);
        return PdfInput::fromFile(QString::fromUtf8(path));
    }
    const QByteArray encoded = request.value(kField);
    if (encoded.size() / 4 * 3 > kMaxInlineBytes)
        badInput(QStringLiteral("\"document\" is too large to send inline: upload it as a file."));
    const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        badInput(QStringLiteral("\"document\" must be a file upload or non-empty base64."));
    return PdfInput::fromBytes(decoded.decoded);
}

int pageOf(const tRequestMap &request)
{
    if (!request.contains("page"))
        return 1;
    bool ok = false;
    const int page = request.value("page").toInt(&ok);
    if (!ok || page < 1)
        badInput(QStringLiteral("\"page\" counts from 1."));
    return page;
}

// "x1,y1,x2,y2" in PDF points, two opposite corners in either order.
std::optional<QRectF> rectOf(const tRequestMap &request)
{
    if (!request.contains("rect"))
        return std::nullopt;
    const QList<QByteArray> parts = request.value("rect").split(',');
    QList<double> numbers;
    for (const QByteArray &part : parts) {
        bool ok = false;
        numbers.append(part.trimmed().toDouble(&ok));
        if (!ok || !std::isfinite(numbers.last()))
            numbers.clear();
    }
    if (parts.size() != 4 || numbers.size() != 4)
        badInput(QStringLiteral("\"rect\" is four numbers: x1,y1,x2,y2."));
    const QRectF rect = QRectF(QPointF(numbers[0], numbers[1]), QPointF(numbers[2], numbers[3])).normalized();
    if (rect.isEmpty())
        badInput(QStringLiteral("\"rect\" must have an area."));
    return rect;
}

QString textOf(const tRequestMap &request, const char *name)
{
    const QByteArray value = request.value(name);
    if (value.size() > kMaxTextBytes)
        badInput(QStringLiteral("\"%1\" is too long.").arg(QLatin1String(name)));
    return QString::fromUtf8(value);
}

PdfRequest parsePdfRequest(const tRequestMap &request)
{
    PdfRequest parsed;
    parsed.id = request.value("id");
    if (parsed.id.isEmpty() || parsed.id.size() > vyr::signer::SignRequest::kMaxIdLength)
        badInput(QStringLiteral("\"id\" must name a certificate from the listing."));
    if (request.contains("algorithm")) {
        parsed.algorithm = vyr::signer::signatureFromName(request.value("algorithm"));
        if (!parsed.algorithm)
            throw SignerError(SignerErrorCode::AlgorithmUnsupported,
                              QStringLiteral("Unsupported algorithm."));
    }
    parsed.options.page = pageOf(request);
    parsed.options.rect = rectOf(request);
    parsed.options.field = textOf(request, "field");
    if (!parsed.options.field.isEmpty() && (request.contains("page") || request.contains("rect")))
        badInput(QStringLiteral(
            "\"field\" decides the page and the rectangle: give it without \"page\" and \"rect\"."));
    parsed.options.details.reason = textOf(request, "reason");
    parsed.options.details.location = textOf(request, "location");
    parsed.options.details.contactInfo = textOf(request, "contactInfo");
    parsed.description = request.value("description");
    return parsed;
}

SigningSummary summaryOf(const QByteArray &origin, const PdfRequest &input, const PdfDocument &document,
                         const SigningKey &key)
{
    const PdfDocumentInfo info = PdfDocumentInfo::describe(document);
    SigningSummary summary{origin, key.certificate(), {}, input.description, {}};
    summary.document =
        SigningSummary::Document{input.fileName, info.pageCount, info.signatureCount, info.size, info.sha256};
    return summary;
}

} // namespace

namespace SignerCommands {

QByteArray signPdf(const tRequestMap &request)
{
    PdfRequest input = parsePdfRequest(request);
    const PdfInput source = documentOf(request, input.fileName);
    source.startDigest(); // while the document is parsed and the key opened
    const PdfDocument document(source);
    // Everything that can be refused is refused here, before the user is asked for a PIN.
    PdfSigner signer(document, input.options);
    const std::unique_ptr<SigningKey> key = moduleKeyStores().open(input.id);
    const SignatureAlgorithm algorithm =
        vyr::signer::signatureAlgorithmFor(key->certificate(), input.algorithm);
    CadesBuilder builder(*key, {true, false, DigestAlgorithm::Sha256, algorithm});
    const SigningSummary summary = summaryOf(request.value(kVyrOriginKey), input, document, *key);
    // Begun once the digest is in, so that it takes no processor from what the dialog waits for.
    SignedDocumentReply reply(document.input());
    UserConfirmation::unlockForSigning(summary, *key);
    return reply.text(signer.sign(builder, key->certificate()));
}

} // namespace SignerCommands
