#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// What the signer states beside the signature; the texts come from the page.
struct SignatureDetails
{
    QDateTime time;
    QString reason;
    QString location;
    QString contactInfo;

    // BadInput for a text longer than a reader's panel shows.
    void check() const;
};

// The signature dictionary of a CAdES signature (PAdES): the time in /M, since the CMS carries
// none, and room for the byte ranges and the CMS, filled in once the update's bytes are final.
class SignatureDictionary
{
public:
    SignatureDictionary(const SignatureDetails &details, qsizetype signatureBound);

    const QByteArray &body() const { return m_body; }

    // Writes the byte ranges into `update`, whose dictionary body starts at `bodyStart` and which
    // follows `originalSize` bytes; answers the gap [first, second) within `update` that the
    // signature leaves out.
    std::pair<qsizetype, qsizetype> writeByteRange(QByteArray &update, qsizetype bodyStart,
                                                   qint64 originalSize) const;
    // StoreError when the CMS outgrew its room, which the bound promised it would not.
    void writeContents(QByteArray &update, qsizetype bodyStart, const QByteArray &cms) const;

private:
    QByteArray m_body;
    qsizetype m_byteRange = 0; // offsets within the body
    qsizetype m_contents = 0;  // of the '<'
    qsizetype m_contentsLength = 0;
};
