#include "SignatureDictionary.h"

#include "PdfText.h"
#include "core/SignerError.h"

namespace {

constexpr qsizetype kTextLimit = 256;
// Four numbers of up to ten digits: files up to 9 GB.
constexpr qsizetype kByteRangeWidth = 46;

void checkLength(const QString &text, const char *name)
{
    if (text.size() > kTextLimit)
        throw SignerError(
            SignerErrorCode::BadInput,
            QStringLiteral("The %1 is longer than %2 characters.").arg(QLatin1String(name)).arg(kTextLimit));
}

} // namespace

void SignatureDetails::check() const
{
    checkLength(reason, "reason");
    checkLength(location, "location");
    checkLength(contactInfo, "contact information");
}

SignatureDictionary::SignatureDictionary(const SignatureDetails &details, qsizetype signatureBound)
{
    m_body =
        "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /ETSI.CAdES.detached /M " + pdf::date(details.time);
    const std::pair<const char *, const QString *> texts[] = {{"/Reason", &details.reason},
                                                              {"/Location", &details.location},
                                                              {"/ContactInfo", &details.contactInfo}};
    for (const auto &[key, text] : texts)
        if (!text->isEmpty())
            m_body += ' ' + QByteArray(key) + ' ' + pdf::textString(*text);
    m_body += " /ByteRange ";
    m_byteRange = m_body.size();
    m_body += QByteArray(kByteRangeWidth, ' ') + " /Contents ";
    m_contents = m_body.size();
    m_contentsLength = 2 * signatureBound + 2;
    m_body += '<' + QByteArray(2 * signatureBound, '0') + "> >>";
}

std::pair<qsizetype, qsizetype> SignatureDictionary::writeByteRange(QByteArray &update, qsizetype bodyStart,
                                                                    qint64 originalSize) const
{
    const qsizetype gapStart = bodyStart + m_contents;
    const qsizetype gapEnd = gapStart + m_contentsLength;
    const qint64 total = originalSize + update.size();
    const QByteArray ranges = "[0 " + QByteArray::number(originalSize + gapStart) + ' ' +
                              QByteArray::number(originalSize + gapEnd) + ' ' +
                              QByteArray::number(total - originalSize - gapEnd) + ']';
    if (ranges.size() > kByteRangeWidth)
        throw SignerError(SignerErrorCode::BadInput, QStringLiteral("The PDF is too large to sign."));
    update.replace(bodyStart + m_byteRange, ranges.size(), ranges);
    return {gapStart, gapEnd};
}

void SignatureDictionary::writeContents(QByteArray &update, qsizetype bodyStart, const QByteArray &cms) const
{
    const QByteArray hex = cms.toHex();
    if (hex.size() > m_contentsLength - 2)
        throw SignerError(SignerErrorCode::StoreError,
                          QStringLiteral("The signature is larger than the room reserved for it."));
    update.replace(bodyStart + m_contents + 1, hex.size(), hex);
}
