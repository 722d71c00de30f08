#include "SignatureAppearance.h"

#include "PdfText.h"
#include "core/SignerOpenSsl.h"

namespace {

// Helvetica's characters average about half the font size in width.
constexpr double kAverageWidth = 0.55;
constexpr double kLargestFont = 24;

QString commonName(const QByteArray &certificate)
{
    const vyr::signer::X509Ptr parsed = vyr::signer::parseCertificate(certificate);
    X509_NAME *subject = parsed ? X509_get_subject_name(parsed.get()) : nullptr;
    const int index = subject ? X509_NAME_get_index_by_NID(subject, NID_commonName, -1) : -1;
    if (index < 0)
        return QStringLiteral("unnamed signer");
    unsigned char *utf8 = nullptr;
    const int length =
        ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
    QString name = length < 0 ? QString() : QString::fromUtf8(reinterpret_cast<const char *>(utf8), length);
    OPENSSL_free(utf8);
    return name;
}

int quarterTurns(int degrees)
{
    constexpr int kQuarter = 90;
    return degrees % kQuarter == 0 ? (degrees / kQuarter % 4 + 4) % 4 : 0;
}

// Turns the face counterclockwise by quarter turns; the reader fits the turned box to /Rect.
QByteArray turning(int quarterTurns)
{
    static const char *const kMatrices[] = {"", " /Matrix [0 1 -1 0 0 0]", " /Matrix [-1 0 0 -1 0 0]",
                                            " /Matrix [0 -1 1 0 0 0]"};
    return kMatrices[quarterTurns];
}

} // namespace

SignatureAppearance::SignatureAppearance(const QSizeF &rect, int pageRotation, const QByteArray &certificate,
                                         const QDateTime &time)
    : m_quarterTurns(quarterTurns(pageRotation)), m_size(m_quarterTurns % 2 ? rect.transposed() : rect),
      m_lines{QStringLiteral("Signed by ") + commonName(certificate),
              time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"))}
{
}

QByteArray SignatureAppearance::entries() const
{
    return "/Type /XObject /Subtype /Form /BBox [0 0 " + pdf::number(m_size.width()) + ' ' +
           pdf::number(m_size.height()) +
           "] /Resources << /Font << /Helv << /Type /Font /Subtype /Type1 /BaseFont /Helvetica "
           "/Encoding /WinAnsiEncoding >> >> >>" +
           turning(m_quarterTurns);
}

QByteArray SignatureAppearance::content() const
{
    const double width = m_size.width(), height = m_size.height();
    const qsizetype longest = std::max(m_lines[0].size(), m_lines[1].size());
    const double font =
        std::min({height / 2.6, width / (kAverageWidth * static_cast<double>(longest) + 1), kLargestFont});
    const QByteArray frame = "q 0.1 0.2 0.6 RG 1 w 0.5 0.5 " + pdf::number(width - 1) + ' ' +
                             pdf::number(height - 1) + " re S Q\n";
    return frame + "BT 0.1 0.2 0.6 rg /Helv " + pdf::number(font) + " Tf " + pdf::number(font / 2) + ' ' +
           pdf::number(height / 2 + font * 0.25) + " Td " + pdf::winAnsiString(m_lines[0]) + " Tj 0 " +
           pdf::number(-font * 1.2) + " Td " + pdf::winAnsiString(m_lines[1]) + " Tj ET";
}
