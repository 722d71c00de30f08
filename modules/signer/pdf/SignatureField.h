#pragma once

#include "IncrementalUpdate.h"

#include <QRectF>
#include <optional>

// A new signature field, named after the form's existing ones, whose widget sits on one page:
// the update gets the widget and new versions of the page's annotation list and of the form.
// The objects it changes are written whole, unchanged but for the one entry; qpdf gives them
// back as they are in the file.
class SignatureField
{
public:
    SignatureField(const PdfDocument &document, const QPDFObjectHandle &page);

    // "Signature<n>" with the smallest n no top-level field has taken.
    QString name() const;
    // `rect` in the page's points; empty for an invisible signature without appearance.
    void addTo(IncrementalUpdate &update, QPDFObjGen signature, const QRectF &rect,
               std::optional<QPDFObjGen> appearance) const;

private:
    void addToPage(IncrementalUpdate &update, const QByteArray &widget) const;
    void addToForm(IncrementalUpdate &update, const QByteArray &widget) const;

    const PdfDocument &m_document;
    QPDFObjectHandle m_page;
};
