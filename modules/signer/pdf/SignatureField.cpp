#include "SignatureField.h"

#include "PdfText.h"
#include "core/SignerError.h"

#include <QSet>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>

namespace {

QByteArray reference(QPDFObjGen id)
{
    return QByteArray::number(id.getObj()) + ' ' + QByteArray::number(id.getGen()) + " R";
}

QByteArray unparsed(QPDFObjectHandle object)
{
    return QByteArray::fromStdString(object.unparse());
}

// `array`'s items as the file has them, then `item`; just `item` when `array` is none.
QByteArray arrayWith(QPDFObjectHandle array, const QByteArray &item)
{
    QByteArray text = "[";
    if (array.isArray())
        for (const QPDFObjectHandle &existing : array.getArrayAsVector())
            text += unparsed(existing) + ' ';
    return text + item + ']';
}

using Entries = std::map<std::string, QByteArray>;

// `dictionary` with `entries` set and every other entry as the file has it.
QByteArray dictionaryWith(QPDFObjectHandle dictionary, const Entries &entries)
{
    QByteArray text = "<<";
    for (const std::string &existing : dictionary.getKeys())
        if (!entries.contains(existing))
            text += ' ' + unparsed(QPDFObjectHandle::newName(existing)) + ' ' +
                    unparsed(dictionary.getKey(existing));
    for (const auto &[key, value] : entries)
        text += ' ' + unparsed(QPDFObjectHandle::newName(key)) + ' ' + value;
    return text + " >>";
}

[[noreturn]] void noField(const QString &reason)
{
    throw SignerError(SignerErrorCode::BadInput, reason);
}

// An object the update can write a new version of: one the bytes have under its own number.
bool updatable(const PdfDocument &document, const QPDFObjectHandle &object)
{
    return object.isIndirect() && document.qpdf().getXRefTable().count(object.getObjGen()) > 0;
}

QPDFObjectHandle pageHolding(const PdfDocument &document, QPDFObjGen widget)
{
    for (QPDFObjectHandle page : document.qpdf().getAllPages()) {
        QPDFObjectHandle annotations = page.getKey("/Annots");
        if (annotations.isArray())
            for (const QPDFObjectHandle &annotation : annotations.getArrayAsVector())
                if (annotation.getObjGen() == widget)
                    return page;
    }
    return QPDFObjectHandle::newNull();
}

QRectF rectOf(QPDFObjectHandle widget)
{
    const QPDFObjectHandle::Rectangle box = widget.getKey("/Rect").getArrayAsRectangle();
    return QRectF(QPointF(box.llx, box.lly), QPointF(box.urx, box.ury)).normalized();
}

} // namespace

SignatureField::SignatureField(const PdfDocument &document, const QPDFObjectHandle &page, const QRectF &rect)
    : m_document(document), m_page(page), m_rect(rect)
{
}

SignatureField SignatureField::added(const PdfDocument &document, const QPDFObjectHandle &page,
                                     const QRectF &rect)
{
    return SignatureField(document, page, rect);
}

SignatureField SignatureField::existing(const PdfDocument &document, const QString &name)
{
    QPDFAcroFormDocumentHelper form(document.qpdf());
    for (QPDFFormFieldObjectHelper &field : form.getFormFields()) {
        if (QString::fromStdString(field.getFullyQualifiedName()) != name)
            continue;
        if (field.getFieldType() != "/Sig")
            noField(QStringLiteral("The PDF's field \"%1\" is not a signature field.").arg(name));
        if (!field.getValue().isNull())
            noField(QStringLiteral("The PDF's field \"%1\" is signed already.").arg(name));
        const std::vector<QPDFAnnotationObjectHelper> widgets = form.getAnnotationsForField(field);
        QPDFObjectHandle widget =
            widgets.empty() ? QPDFObjectHandle::newNull() : widgets.front().getObjectHandle();
        QPDFObjectHandle page = widget.isDictionary() ? pageHolding(document, widget.getObjGen()) : widget;
        if (!page.isDictionary() || !updatable(document, field.getObjectHandle()) ||
            !updatable(document, widget))
            noField(QStringLiteral("The PDF's field \"%1\" cannot be signed: its widget is on no page.")
                        .arg(name));
        SignatureField found(document, page, rectOf(widget));
        found.m_existing = Existing{field.getObjectHandle(), widget};
        return found;
    }
    noField(QStringLiteral("The PDF has no field \"%1\".").arg(name));
}

void SignatureField::addTo(IncrementalUpdate &update, QPDFObjGen signature,
                           std::optional<QPDFObjGen> appearance) const
{
    if (!m_existing)
        addNew(update, signature, appearance);
    else
        fill(update, signature, appearance);
}

void SignatureField::fill(IncrementalUpdate &update, QPDFObjGen signature,
                          std::optional<QPDFObjGen> appearance) const
{
    Entries field{{"/V", reference(signature)}};
    const QByteArray face = appearance ? "<< /N " + reference(*appearance) + " >>" : QByteArray();
    const QPDFObjectHandle fieldObject = m_existing->field;
    const QPDFObjectHandle widget = m_existing->widget;
    const bool merged = fieldObject.getObjGen() == widget.getObjGen();
    if (appearance && merged)
        field["/AP"] = face;
    else if (appearance)
        update.addObject(widget.getObjGen(), dictionaryWith(widget, {{"/AP", face}}));
    update.addObject(fieldObject.getObjGen(), dictionaryWith(fieldObject, field));
    updateForm(update, {});
}

QString SignatureField::newName() const
{
    QSet<QString> taken;
    QPDFObjectHandle fields = m_document.qpdf().getRoot().getKey("/AcroForm").getKey("/Fields");
    if (fields.isArray())
        for (QPDFObjectHandle &field : fields.getArrayAsVector())
            if (field.isDictionary() && field.getKey("/T").isString())
                taken.insert(QString::fromStdString(field.getKey("/T").getUTF8Value()));
    for (int n = 1;; ++n)
        if (!taken.contains(QStringLiteral("Signature%1").arg(n)))
            return QStringLiteral("Signature%1").arg(n);
}

void SignatureField::addNew(IncrementalUpdate &update, QPDFObjGen signature,
                            std::optional<QPDFObjGen> appearance) const
{
    const QPDFObjGen widget = update.reserve();
    QByteArray body = "<< /Type /Annot /Subtype /Widget /FT /Sig /T " + pdf::textString(newName()) +
                      " /F 132 /P " + reference(m_page.getObjGen()) + " /Rect [";
    for (const double edge : {m_rect.left(), m_rect.top(), m_rect.right(), m_rect.bottom()})
        body += pdf::number(edge) + ' ';
    body.chop(1);
    body += "] /V " + reference(signature);
    if (appearance)
        body += " /AP << /N " + reference(*appearance) + " >>";
    update.addObject(widget, body + " >>");
    addToPage(update, reference(widget));
    updateForm(update, reference(widget));
}

void SignatureField::addToPage(IncrementalUpdate &update, const QByteArray &widget) const
{
    QPDFObjectHandle page = m_page; // a handle: the copy is the same object
    QPDFObjectHandle annotations = page.getKey("/Annots");
    if (annotations.isIndirect() && annotations.isArray())
        update.addObject(annotations.getObjGen(), arrayWith(annotations, widget));
    else
        update.addObject(page.getObjGen(),
                         dictionaryWith(page, {{"/Annots", arrayWith(annotations, widget)}}));
}

void SignatureField::updateForm(IncrementalUpdate &update, const QByteArray &widget) const
{
    QPDFObjectHandle root = m_document.qpdf().getRoot();
    QPDFObjectHandle form = root.getKey("/AcroForm");
    if (!form.isDictionary()) {
        update.addObject(root.getObjGen(),
                         dictionaryWith(root, {{"/AcroForm", "<< /Fields [" + widget + "] /SigFlags 3 >>"}}));
        return;
    }
    QPDFObjectHandle flags = form.getKey("/SigFlags");
    // Signatures exist (1) and the file must only be appended to (2).
    Entries changed{{"/SigFlags", QByteArray::number((flags.isInteger() ? flags.getIntValue() : 0) | 3)}};
    if (!widget.isEmpty())
        changed["/Fields"] = arrayWith(form.getKey("/Fields"), widget);
    const QByteArray newForm = dictionaryWith(form, changed);
    if (form.isIndirect())
        update.addObject(form.getObjGen(), newForm);
    else
        update.addObject(root.getObjGen(), dictionaryWith(root, {{"/AcroForm", newForm}}));
}
