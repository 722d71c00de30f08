#include "PdfDocumentInfo.h"

#include "PdfReadError.h"

#include <qpdf/QPDFAcroFormDocumentHelper.hh>

namespace {

int countSignatures(QPDF &qpdf)
{
    int count = 0;
    for (QPDFFormFieldObjectHelper &field : QPDFAcroFormDocumentHelper(qpdf).getFormFields())
        if (field.getFieldType() == "/Sig" && field.getValue().isDictionary())
            ++count;
    return count;
}

} // namespace

PdfDocumentInfo PdfDocumentInfo::describe(const PdfDocument &document)
{
    PdfDocumentInfo info;
    info.pageCount = document.pageCount();
    info.signatureCount = readingPdf([&] { return countSignatures(document.qpdf()); });
    info.size = document.input().size();
    info.sha256 = document.input().sha256();
    return info;
}
