#pragma once

#include "PdfDocument.h"

// What the signing dialog shows of a document before the user agrees to sign it.
struct PdfDocumentInfo
{
    int pageCount = 0;
    int signatureCount = 0; // signature fields that hold a signature
    qint64 size = 0;
    QByteArray sha256;

    static PdfDocumentInfo describe(const PdfDocument &document);
};
