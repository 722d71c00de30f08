#include "SignatureField.h"

#include "PdfText.h"

#include <QSet>
#include <qpdf/QPDF.hh>

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

// `dictionary` with `key` set to `value` and every other entry as the file has it.
QByteArray dictionaryWith(QPDFObjectHandle dictionary, const std::string &key, const QByteArray &value)
{
    QByteArray text = "<<";
    for (const std::string &existing : dictionary.getKeys())
        if (existing != key)
            text += ' ' + unparsed(QPDFObjectHandle::newName(existing)) + ' ' +
                    unparsed(dictionary.getKey(existing));
    return text + ' ' + unparsed(QPDFObjectHandle::newName(key)) + ' ' + value + " >>";
}

} // namespace

SignatureField::SignatureField(const PdfDocument &document, const QPDFObjectHandle &page)
    : m_document(document), m_page(page)
{
}

QString SignatureField::name() const
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

void SignatureField::addTo(IncrementalUpdate &update, QPDFObjGen signature, const QRectF &rect,
                           std::optional<QPDFObjGen> appearance) const
{
    const QPDFObjGen widget = update.reserve();
    QByteArray body = "<< /Type /Annot /Subtype /Widget /FT /Sig /T " + pdf::textString(name()) +
                      " /F 132 /P " + reference(m_page.getObjGen()) + " /Rect [";
    for (const double edge : {rect.left(), rect.top(), rect.right(), rect.bottom()})
        body += pdf::number(edge) + ' ';
    body.chop(1);
    body += "] /V " + reference(signature);
    if (appearance)
        body += " /AP << /N " + reference(*appearance) + " >>";
    update.addObject(widget, body + " >>");
    addToPage(update, reference(widget));
    addToForm(update, reference(widget));
}

void SignatureField::addToPage(IncrementalUpdate &update, const QByteArray &widget) const
{
    QPDFObjectHandle page = m_page; // a handle: the copy is the same object
    QPDFObjectHandle annotations = page.getKey("/Annots");
    if (annotations.isIndirect() && annotations.isArray())
        update.addObject(annotations.getObjGen(), arrayWith(annotations, widget));
    else
        update.addObject(page.getObjGen(), dictionaryWith(page, "/Annots", arrayWith(annotations, widget)));
}

void SignatureField::addToForm(IncrementalUpdate &update, const QByteArray &widget) const
{
    QPDFObjectHandle root = m_document.qpdf().getRoot();
    QPDFObjectHandle form = root.getKey("/AcroForm");
    if (!form.isDictionary()) {
        update.addObject(root.getObjGen(),
                         dictionaryWith(root, "/AcroForm", "<< /Fields [" + widget + "] /SigFlags 3 >>"));
        return;
    }
    QPDFObjectHandle flags = form.getKey("/SigFlags");
    const long long sigFlags = (flags.isInteger() ? flags.getIntValue() : 0) | 3;
    QPDFObjectHandle withFlags = form.shallowCopy();
    withFlags.replaceKey("/SigFlags", QPDFObjectHandle::newInteger(sigFlags));
    const QByteArray newForm =
        dictionaryWith(withFlags, "/Fields", arrayWith(form.getKey("/Fields"), widget));
    if (form.isIndirect())
        update.addObject(form.getObjGen(), newForm);
    else
        update.addObject(root.getObjGen(), dictionaryWith(root, "/AcroForm", newForm));
}
