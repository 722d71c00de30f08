#include "PdfReadError.h"

#include <qpdf/QPDFExc.hh>

namespace {
// qpdf quotes the document's own tokens in its details; a page learns the gist, not pages of it.
constexpr qsizetype kDetailLimit = 200;
} // namespace

SignerError pdfReadError(const std::exception &error)
{
    const auto *qpdfError = dynamic_cast<const QPDFExc *>(&error);
    if (qpdfError && qpdfError->getErrorCode() == qpdf_e_password)
        return {SignerErrorCode::BadInput, QStringLiteral("The PDF is encrypted; it cannot be signed.")};
    if (!qpdfError)
        return {SignerErrorCode::BadInput, QStringLiteral("The PDF cannot be read.")};
    const QString detail = QString::fromStdString(qpdfError->getMessageDetail()).left(kDetailLimit);
    return {SignerErrorCode::BadInput, QStringLiteral("The PDF is damaged: %1").arg(detail)};
}
