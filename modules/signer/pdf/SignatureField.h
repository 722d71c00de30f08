#pragma once

#include "IncrementalUpdate.h"

#include <QRectF>
#include <optional>

// Where a signature goes: a new field, named after the form's existing ones, whose widget sits
// on one page, or an unsigned signature field the document already has. The update gets what
// changes: a new field's widget and new versions of the page's annotation list and of the
// form, or an existing field's value and face, and the form's flags. The objects it changes
// are written whole, unchanged but for those entries; qpdf gives them back as they are in the
// file.
class SignatureField
{
public:
    // `rect` in the page's points; empty for an invisible signature.
    static SignatureField added(const PdfDocument &document, const QPDFObjectHandle &page,
                                const QRectF &rect);
    // The unsigned signature field of that full name; BadInput when there is none, it is signed
    // or it has no widget on a page.
    static SignatureField existing(const PdfDocument &document, const QString &name);

    const QPDFObjectHandle &page() const { return m_page; }
    // In the page's points; empty when the signature is not seen.
    const QRectF &rect() const { return m_rect; }
    void addTo(IncrementalUpdate &update, QPDFObjGen signature, std::optional<QPDFObjGen> appearance) const;

private:
    SignatureField(const PdfDocument &document, const QPDFObjectHandle &page, const QRectF &rect);

    // "Signature<n>" with the smallest n no top-level field has taken.
    QString newName() const;
    void addNew(IncrementalUpdate &update, QPDFObjGen signature, std::optional<QPDFObjGen> appearance) const;
    void fill(IncrementalUpdate &update, QPDFObjGen signature, std::optional<QPDFObjGen> appearance) const;
    void addToPage(IncrementalUpdate &update, const QByteArray &widget) const;
    // With the new field's widget, or with the flags alone when `widget` is empty.
    void updateForm(IncrementalUpdate &update, const QByteArray &widget) const;

    const PdfDocument &m_document;
    QPDFObjectHandle m_page;
    QRectF m_rect;
    struct Existing
    {
        QPDFObjectHandle field;
        QPDFObjectHandle widget; // the same object as the field when the two are merged
    };
    std::optional<Existing> m_existing; // none for a new field
};
