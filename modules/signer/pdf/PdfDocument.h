#pragma once

#include "PdfInput.h"

#include <memory>
#include <qpdf/QPDFObjectHandle.hh>

class QPDF;

// Where the document's newest cross-reference section starts, and its form: an update must
// continue in the same form, or readers that know only one of them lose the chain.
struct XrefTail
{
    qint64 offset = 0;
    bool isStream = false;
};

// A PDF opened for signing: read by qpdf without repairs (a repaired reading would describe
// objects the bytes we sign do not hold), every object resolved once so that a cross-reference
// entry that lies is found now, not halfway through the update. Encrypted documents are
// refused. Every failure is BadInput. Owned and used by the thread that signs.
class PdfDocument
{
public:
    explicit PdfDocument(PdfInput input);
    ~PdfDocument();
    PdfDocument(const PdfDocument &) = delete;
    PdfDocument &operator=(const PdfDocument &) = delete;

    const PdfInput &input() const { return m_input; }
    QPDF &qpdf() const { return *m_qpdf; }
    const XrefTail &lastXref() const { return m_tail; }
    // The first object number the update may take.
    int nextObjectNumber() const { return m_nextObject; }
    int pageCount() const;
    // `number` counts from 1; BadInput outside the document or for a page the update cannot name.
    QPDFObjectHandle page(int number) const;

private:
    void open();
    void resolveEveryObject();
    XrefTail readTail() const;

    PdfInput m_input;
    std::unique_ptr<QPDF> m_qpdf;
    XrefTail m_tail;
    int m_nextObject = 1;
};
