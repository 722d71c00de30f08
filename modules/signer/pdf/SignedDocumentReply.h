#pragma once

#include "Base64Writer.h"
#include "PdfInput.h"

#include <future>

// The reply {"document": base64 of the signed document}. The signed document is the document
// followed by the signature's update, so the document's part of the text is encoded on a
// thread of its own from the start, while the person reads the dialog: once signed, only the
// update is left to encode. Owned by the signing thread; the encoding thread owns its writer
// and its own reading of the document until text() takes them.
class SignedDocumentReply
{
public:
    explicit SignedDocumentReply(const PdfInput &document);
    SignedDocumentReply(const SignedDocumentReply &) = delete;
    SignedDocumentReply &operator=(const SignedDocumentReply &) = delete;
    // Waits for the encoding thread, which may still be reading the document.
    ~SignedDocumentReply();

    // Once only. Throws what reading the document threw (StoreError).
    QByteArray text(QByteArrayView update);

private:
    std::future<Base64Writer> m_document;
};
