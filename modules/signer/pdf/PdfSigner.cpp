#include "PdfSigner.h"

#include "CadesBuilder.h"
#include "IncrementalUpdate.h"
#include "PdfReadError.h"
#include "SignatureAppearance.h"
#include "SignatureField.h"

#include <QIODevice>
#include <cmath>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

namespace {

// A signature larger than a sheet of A0 paper is not meant; far-off numbers only hide mistakes.
constexpr double kLargestCoordinate = 14400;

void checkRect(const QRectF &rect)
{
    const bool finite = std::isfinite(rect.left()) && std::isfinite(rect.top()) &&
                        std::isfinite(rect.width()) && std::isfinite(rect.height());
    if (!finite || rect.width() < 1 || rect.height() < 1 || std::abs(rect.left()) > kLargestCoordinate ||
        std::abs(rect.top()) > kLargestCoordinate || rect.right() > kLargestCoordinate ||
        rect.bottom() > kLargestCoordinate)
        throw SignerError(
            SignerErrorCode::BadInput,
            QStringLiteral("The signature's rectangle must have a size and lie within %1 points.")
                .arg(kLargestCoordinate));
}

// A certification that allows no change at all (DocMDP with /P 1) is broken by any update,
// a further signature too.
void checkCertification(QPDF &qpdf)
{
    QPDFObjectHandle references = qpdf.getRoot().getKey("/Perms").getKey("/DocMDP").getKey("/Reference");
    if (!references.isArray())
        return;
    for (QPDFObjectHandle &reference : references.getArrayAsVector()) {
        QPDFObjectHandle permission = reference.getKey("/TransformParams").getKey("/P");
        if (permission.isInteger() && permission.getIntValue() == 1)
            throw SignerError(
                SignerErrorCode::BadInput,
                QStringLiteral("The PDF is certified against any change; it cannot be signed again."));
    }
}

SignatureField placeOf(const PdfDocument &document, const PdfSignatureOptions &options)
{
    if (!options.field.isEmpty())
        return readingPdf([&] { return SignatureField::existing(document, options.field); });
    if (options.rect)
        checkRect(*options.rect);
    return SignatureField::added(document, document.page(options.page), options.rect.value_or(QRectF()));
}

} // namespace

PdfSigner::PdfSigner(const PdfDocument &document, PdfSignatureOptions options)
    : m_document(document), m_options(std::move(options)), m_field(placeOf(document, m_options))
{
    m_options.details.check();
    readingPdf([&] { checkCertification(document.qpdf()); });
}

QByteArray PdfSigner::sign(CadesBuilder &builder, const QByteArray &signerCertificate)
{
    m_options.details.time = QDateTime::currentDateTimeUtc();
    const SignatureDictionary dictionary(m_options.details, builder.detachedSizeBound());
    auto [update, bodyStart] = readingPdf([&] { return unsignedUpdate(dictionary, signerCertificate); });
    const auto gap = dictionary.writeByteRange(update, bodyStart, m_document.input().size());
    dictionary.writeContents(update, bodyStart, builder.signContentDigest(digest(update, gap)));
    return update;
}

int PdfSigner::pageRotation() const
{
    // Inherited from the page tree when the page has none of its own.
    QPDFObjectHandle rotate = QPDFPageObjectHelper(m_field.page()).getAttribute("/Rotate", false);
    return rotate.isInteger() ? static_cast<int>(rotate.getIntValue() % 360) : 0;
}

std::pair<QByteArray, qsizetype> PdfSigner::unsignedUpdate(const SignatureDictionary &dictionary,
                                                           const QByteArray &signerCertificate) const
{
    IncrementalUpdate update(m_document);
    const QPDFObjGen signature = update.reserve();
    const qsizetype bodyStart = update.addObject(signature, dictionary.body());
    std::optional<QPDFObjGen> appearance;
    if (!m_field.rect().isEmpty()) {
        const SignatureAppearance face(m_field.rect().size(), pageRotation(), signerCertificate,
                                       m_options.details.time);
        appearance = update.reserve();
        update.addStream(*appearance, face.entries(), face.content());
    }
    m_field.addTo(update, signature, appearance);
    return {update.finish(), bodyStart};
}

void PdfSigner::forEachSignedPiece(const QByteArray &update,
                                   const std::function<void(QByteArrayView)> &consume) const
{
    m_document.input().forEachPiece(consume);
    consume(update);
}

void PdfSigner::write(const QByteArray &update, QIODevice &out) const
{
    bool written = true;
    forEachSignedPiece(update, [&](QByteArrayView piece) {
        written = written && out.write(piece.data(), piece.size()) == piece.size();
    });
    if (!written)
        throw SignerError(SignerErrorCode::StoreError,
                          QStringLiteral("The signed document could not be written."));
}

QByteArray PdfSigner::digest(const QByteArray &update, std::pair<qsizetype, qsizetype> gap) const
{
    // Continues the digest the dialog's summary took of the document.
    Sha256 hash = m_document.input().digestOfAll();
    hash.add(QByteArrayView(update).first(gap.first));
    hash.add(QByteArrayView(update).sliced(gap.second));
    return hash.result();
}
