#pragma once

#include "PdfDocument.h"
#include "SignatureDictionary.h"
#include "SignatureField.h"

#include <QRectF>
#include <optional>

class CadesBuilder;
class QIODevice;

struct PdfSignatureOptions
{
    int page = 1; // from 1; where the widget goes, visible or not
    // In PDF points on that page; none for an invisible signature.
    std::optional<QRectF> rect;
    SignatureDetails details; // its time is taken when signing
    // The full name of an unsigned signature field the document has, which then decides the
    // page and the rectangle; empty for a new field.
    QString field;
};

// Signs a document with a PAdES (CAdES-detached) signature in one incremental update: the
// options are checked when it is made, before anyone is asked for a PIN; sign() makes the
// update, digests the signed byte ranges with SHA-256 and embeds the CMS. The builder must use
// SHA-256 and no signing-time attribute. Owned and used by the thread that signs.
class PdfSigner
{
public:
    // BadInput for a page the document lacks, a rectangle no page holds, a field it lacks or
    // that is signed, an overlong text or a document certified against any change.
    PdfSigner(const PdfDocument &document, PdfSignatureOptions options);

    // The update to append to the document's bytes. Throws what the builder throws.
    QByteArray sign(CadesBuilder &builder, const QByteArray &signerCertificate);
    // The document followed by `update`, in bounded pieces; StoreError when the document
    // cannot be read to its end.
    void forEachSignedPiece(const QByteArray &update,
                            const std::function<void(QByteArrayView)> &consume) const;
    // The same into `out`; StoreError also when `out` takes less.
    void write(const QByteArray &update, QIODevice &out) const;

private:
    // The update with the dictionary's room still empty, and where the dictionary's body starts.
    std::pair<QByteArray, qsizetype> unsignedUpdate(const SignatureDictionary &dictionary,
                                                    const QByteArray &signerCertificate) const;
    int pageRotation() const;
    QByteArray digest(const QByteArray &update, std::pair<qsizetype, qsizetype> gap) const;

    const PdfDocument &m_document;
    PdfSignatureOptions m_options;
    SignatureField m_field;
};
